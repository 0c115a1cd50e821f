// The serial ports of this machine and what the system tells about each:
// for the technician who has to find which name the scale's cable got.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class PortAccess {
    kFree,       // opened and released again: nothing else holds it
    kBusy,       // another program holds it (exclusive open or lock)
    kDenied,     // this user may not open it
    kUnknown,    // could not be told (the open failed otherwise)
};

struct SerialPortInfo {
    std::string name;         // what to give as --port: /dev/ttyUSB0, COM3
    std::string kind;         // "uart", "usb", "acm" (Linux); "com" (Windows)
    std::string description;  // the system's friendly name (Windows), else empty
    std::string driver;       // the kernel driver bound to it (Linux), else empty
    std::string device;       // the system's device behind it: the sysfs device
                              // (Linux), \Device\Serial0 and the like (Windows)
    std::vector<std::string> aliases;  // stable names (/dev/serial/by-id/...)
    // USB adapters: ids as four lower-case hex digits, texts as reported.
    std::string vendorId, productId, manufacturer, product, serialNumber;
    PortAccess access = PortAccess::kUnknown;
    std::string accessDetail;  // the system's reason when not free
};

// The serial ports, sorted by name (COM2 before COM10). Each is opened for
// a moment to tell whether it is free; nothing is written to it.
std::vector<SerialPortInfo> ListSerialPorts();

#ifndef _WIN32
// As ListSerialPorts, with the system's /sys and /dev taken under `root`
// ("" for the real ones): a copy of a machine's tree or a made-up one.
// Linux lists the UARTs among ttyS* that have a driver and a known UART
// type, every ttyUSB* and ttyACM*, and the /dev/serial/by-id links to them.
std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& root);
#endif

inline const char* PortAccessName(PortAccess access) {
    switch (access) {
        case PortAccess::kFree: return "free";
        case PortAccess::kBusy: return "busy";
        case PortAccess::kDenied: return "denied";
        default: return "unknown";
    }
}

// Names with their digit runs compared as numbers: COM2 < COM10, ttyS2 < ttyS10.
bool PortNameLess(const std::string& a, const std::string& b);

}  // namespace platform

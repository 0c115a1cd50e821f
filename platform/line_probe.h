// Why a line does not open: the port or host tried again by the tool after
// the driver failed, and the system's answer sorted into the few reasons a
// technician can act on.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class LineFault {
    kNone,         // it opens (or connects) now
    kNoSuchPort,   // no device by that name
    kNotSerial,    // the name is something else than a serial port
    kDenied,       // this user may not open it
    kBusy,         // another program holds it (exclusive open, lock, in use)
    kNoSuchHost,   // the host name resolves to nothing
    kRefused,      // nothing listens on that TCP port
    kUnreachable,  // no route to the host or its network
    kTimedOut,     // no answer within the time allowed
    kOther,        // any other refusal; see detail
};

struct LineProbe {
    LineFault fault = LineFault::kOther;
    // kDenied on POSIX: the group that owns the device ("dialout"), empty
    // when it has no name or the system has no such thing.
    std::string group;
    // The system's own text for the refusal ("Permission denied").
    std::string detail;
};

// Opens the serial port `name` as the driver does (exclusive, nothing
// written, nothing changed on the line) and releases it at once.
LineProbe ProbeSerialPort(const std::string& name);

// Connects to host:port (IPv4, as the driver does) within `timeoutMs` and
// closes the connection at once. A name is resolved by the system first.
LineProbe ProbeTcpHost(const std::string& host, uint16_t port, unsigned timeoutMs);

// "no such port", "busy", ...
inline const char* LineFaultName(LineFault fault) {
    switch (fault) {
        case LineFault::kNone: return "opens";
        case LineFault::kNoSuchPort: return "no such port";
        case LineFault::kNotSerial: return "not a serial port";
        case LineFault::kDenied: return "permission denied";
        case LineFault::kBusy: return "busy";
        case LineFault::kNoSuchHost: return "no such host";
        case LineFault::kRefused: return "connection refused";
        case LineFault::kUnreachable: return "host unreachable";
        case LineFault::kTimedOut: return "timed out";
        default: return "refused";
    }
}

}  // namespace platform

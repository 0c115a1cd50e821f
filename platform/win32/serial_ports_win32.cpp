// Serial ports on Windows: the COM names the serial drivers publish under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, with what Setup knows of the device
// behind each (friendly name, maker, USB ids).
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>

#include "platform/serial_ports.h"
#include "platform/win32/paths_win32.h"

namespace platform {

namespace {

// The "Ports (COM & LPT)" setup class.
const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Narrow(const std::wstring& text) { return NarrowPath(text.data(), text.size()); }

// A UTF-16 buffer the system filled, cut at its first NUL.
std::wstring Terminated(const wchar_t* text, size_t units) {
    size_t n = 0;
    while (n < units && text[n]) ++n;
    return std::wstring(text, n);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return towupper(x) == towupper(y); });
}

std::wstring DeviceText(HDEVINFO set, SP_DEVINFO_DATA* info, DWORD property) {
    wchar_t buffer[512];
    DWORD type = 0, size = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, info, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof(buffer) - sizeof(wchar_t), &size))
        return std::wstring();
    if (type != REG_SZ && type != REG_MULTI_SZ) return std::wstring();
    return Terminated(buffer, std::min<size_t>(size / sizeof(wchar_t), 511));
}

// "0403" after "VID_" in a hardware or instance id, lower case; "" if none.
std::string IdAfter(const std::wstring& id, const wchar_t* tag) {
    std::wstring upper(id);
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    const size_t at = upper.find(tag);
    if (at == std::wstring::npos || at + 4 + 4 > upper.size()) return std::string();
    std::string hex;
    for (size_t i = at + 4; i < at + 8; ++i) {
        if (!iswxdigit(upper[i])) return std::string();
        hex += static_cast<char>(towlower(upper[i]));
    }
    return hex;
}

// Friendly names and USB details from Setup, for the ports already listed.
void AddSetupDetails(std::vector<SerialPortInfo>* ports) {
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info;
    for (DWORD i = 0; i < 1024; ++i) {
        info.cbSize = sizeof(info);
        if (!SetupDiEnumDeviceInfo(set, i, &info)) break;
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t name[64];
        DWORD type = 0, size = sizeof(name) - sizeof(wchar_t);
        const LONG r = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::wstring portName = Terminated(name, std::min<size_t>(size / sizeof(wchar_t), 63));
        for (SerialPortInfo& port : *ports) {
            std::wstring wide;
            if (!WidePath(port.name, &wide) || !SameName(wide, portName)) continue;
            port.description = Narrow(DeviceText(set, &info, SPDRP_FRIENDLYNAME));
            port.manufacturer = Narrow(DeviceText(set, &info, SPDRP_MFG));
            wchar_t instance[512];
            if (SetupDiGetDeviceInstanceIdW(set, &info, instance, 511, nullptr)) {
                const std::wstring id = Terminated(instance, 511);
                port.vendorId = IdAfter(id, L"VID_");
                port.productId = IdAfter(id, L"PID_");
                // USB\VID_0403&PID_6001\A12345: the last part is the
                // adapter's serial number unless Windows made one up ('&').
                const size_t cut = id.rfind(L'\\');
                if (!port.vendorId.empty() && cut != std::wstring::npos && id.find(L'&', cut) == std::wstring::npos)
                    port.serialNumber = Narrow(id.substr(cut + 1));
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Opens the port for a moment; a port another program holds refuses the
// open (no sharing) with access denied.
void ProbeAccess(SerialPortInfo* port) {
    std::wstring wide;
    if (!WidePath("\\\\.\\" + port->name, &wide)) return;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        port->access = PortAccess::kFree;
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
        port->access = PortAccess::kBusy;
        port->accessDetail = "in use by another program";
        return;
    }
    port->access = PortAccess::kUnknown;
    char text[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof(text) - 1, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
    port->accessDetail = n > 0 ? std::string(text) : "error " + std::to_string(error);
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    std::vector<SerialPortInfo> ports;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0; i < 1024; ++i) {
        wchar_t valueName[256];
        wchar_t data[256];
        DWORD nameUnits = 255, dataBytes = sizeof(data) - sizeof(wchar_t), type = 0;
        const LONG r = RegEnumValueW(key, i, valueName, &nameUnits, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                     &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::wstring com = Terminated(data, std::min<size_t>(dataBytes / sizeof(wchar_t), 255));
        if (com.empty()) continue;
        SerialPortInfo port;
        port.name = Narrow(com);
        port.kind = "com";
        port.device = Narrow(Terminated(valueName, std::min<size_t>(nameUnits, 255)));
        ports.push_back(std::move(port));
    }
    RegCloseKey(key);
    AddSetupDetails(&ports);
    for (SerialPortInfo& port : ports) ProbeAccess(&port);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return PortNameLess(a.name, b.name); });
    return ports;
}

}  // namespace platform

// Serial ports on Linux, from sysfs and /dev. Everything read there is taken
// as untrusted text: only regular files are read, and only their first bytes;
// links are followed with the system's loop limit; walks are bounded.
#include "platform/serial_ports.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxAttribute = 256;   // bytes read of one sysfs attribute
constexpr size_t kMaxEntries = 4096;    // directory entries looked at
constexpr int kMaxLevelsUp = 8;         // from a tty's device to its USB device

// The attribute's first line, control characters replaced, white space
// trimmed; "" when it is not a readable regular file.
std::string ReadAttribute(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::string();
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::string();
    char buffer[kMaxAttribute];
    in.read(buffer, sizeof buffer);
    std::string text(buffer, static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    const size_t line = text.find('\n');
    if (line != std::string::npos) text.resize(line);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Four hex digits in lower case, or "".
std::string HexId(const std::string& text) {
    if (text.size() != 4) return std::string();
    std::string id;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::string();
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

// "ttyS12" -> "ttyS", "ttyUSB0" -> "ttyUSB"; "" unless one of the families
// followed by a decimal number.
std::string Family(const std::string& name) {
    static const char* const kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};
    for (const char* family : kFamilies) {
        const size_t n = std::strlen(family);
        if (name.size() <= n || name.size() > n + 6 || name.compare(0, n, family) != 0) continue;
        if (std::all_of(name.begin() + static_cast<long>(n), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
            return family;
    }
    return std::string();
}

// Is `path` inside `base` (both canonical)?
bool Within(const fs::path& path, const fs::path& base) {
    auto p = path.begin(), b = base.begin();
    for (; b != base.end(); ++b, ++p)
        if (p == path.end() || *p != *b) return false;
    return true;
}

#ifdef __linux__
// The UART type the serial driver reports (0 = no UART there); -1 when the
// device does not answer the question.
int UartTypeFromDevice(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    serial_struct info;
    std::memset(&info, 0, sizeof info);
    const int type = ioctl(fd, TIOCGSERIAL, &info) == 0 ? info.type : -1;
    ::close(fd);
    return type;
}
#endif

// Opens the port for a moment: busy when another program holds it
// exclusively or locked, denied when this user may not open it.
void ProbeAccess(const std::string& path, SerialPortInfo* port) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        port->access = PortAccess::kUnknown;
        port->accessDetail = std::strerror(errno);
        return;
    }
    if (!S_ISCHR(st.st_mode) && !S_ISREG(st.st_mode)) {
        port->access = PortAccess::kUnknown;
        port->accessDetail = "not a device";
        return;
    }
    // O_NONBLOCK: the open does not wait for carrier.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        port->access = error == EBUSY ? PortAccess::kBusy
                       : error == EACCES || error == EPERM ? PortAccess::kDenied
                                                          : PortAccess::kUnknown;
        port->accessDetail = std::strerror(error);
        return;
    }
    port->access = PortAccess::kFree;
    port->accessDetail.clear();
#ifdef TIOCGEXCL
    // Exclusive mode refuses other opens, except to root; root is told too.
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        port->access = PortAccess::kBusy;
        port->accessDetail = "held exclusively by another program";
    }
#endif
    if (port->access == PortAccess::kFree) {
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                port->access = PortAccess::kBusy;
                port->accessDetail = "locked by another program";
            }
        } else {
            flock(fd, LOCK_UN);
        }
    }
    ::close(fd);
}

// Walks up from a tty's device to the USB device that carries the ids.
void ReadUsbDetails(const fs::path& device, const fs::path& sysBase, SerialPortInfo* port) {
    fs::path at = device;
    for (int level = 0; level <= kMaxLevelsUp && Within(at, sysBase) && at != sysBase; ++level) {
        const std::string vendor = HexId(ReadAttribute(at / "idVendor"));
        if (!vendor.empty()) {
            port->vendorId = vendor;
            port->productId = HexId(ReadAttribute(at / "idProduct"));
            port->manufacturer = ReadAttribute(at / "manufacturer");
            port->product = ReadAttribute(at / "product");
            port->serialNumber = ReadAttribute(at / "serial");
            return;
        }
        at = at.parent_path();
    }
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPortsUnder(const std::string& root) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    const fs::path sys = fs::path(root.empty() ? "/" : root) / "sys";
    const fs::path dev = fs::path(root.empty() ? "/" : root) / "dev";
    const fs::path sysBase = fs::canonical(sys, ec);
    const bool haveSys = !ec;

    // Candidate names: the tty class in sysfs and the device nodes in /dev.
    std::set<std::string> names;
    auto collect = [&](const fs::path& folder) {
        std::error_code e;
        fs::directory_iterator it(folder, e), end;
        for (size_t seen = 0; !e && it != end && seen < kMaxEntries; it.increment(e), ++seen) {
            const std::string name = it->path().filename().string();
            if (!Family(name).empty()) names.insert(name);
        }
    };
    if (haveSys) collect(sys / "class" / "tty");
    collect(dev);

    // Stable names: /dev/serial/by-id/<link> -> the device node.
    std::vector<std::pair<fs::path, std::string>> byId;  // target, link
    {
        std::error_code e;
        fs::directory_iterator it(dev / "serial" / "by-id", e), end;
        for (size_t seen = 0; !e && it != end && seen < kMaxEntries; it.increment(e), ++seen) {
            std::error_code t;
            fs::path target = fs::canonical(it->path(), t);
            if (!t) byId.emplace_back(target, it->path().string());
        }
    }

    for (const std::string& name : names) {
        const std::string family = Family(name);
        const fs::path node = dev / name;
        std::error_code e;
        if (!fs::exists(fs::symlink_status(node, e))) continue;  // no device node to open

        SerialPortInfo port;
        port.name = node.string();
        port.kind = family == "ttyS" ? "uart" : family == "ttyUSB" ? "usb" : "acm";

        fs::path device;
        const fs::path entry = sys / "class" / "tty" / name;
        if (haveSys) {
            std::error_code d;
            device = fs::canonical(entry / "device", d);
            if (d || !Within(device, sysBase)) device.clear();
        }
        if (!device.empty()) {
            port.device = fs::path("/sys") / device.lexically_relative(sysBase);
            std::error_code d;
            const fs::path driver = fs::read_symlink(device / "driver", d);
            if (!d) port.driver = driver.filename().string();
        }

        if (family == "ttyS") {
            // A legacy driver reserves ttyS names with no UART behind them;
            // a real one has a driver bound and a known UART type.
            if (haveSys && fs::exists(entry, e) && port.driver.empty()) continue;
            const std::string typeText = ReadAttribute(entry / "type");
            int type = -1;
            if (!typeText.empty() && typeText.size() < 6 &&
                std::all_of(typeText.begin(), typeText.end(), [](char c) { return c >= '0' && c <= '9'; }))
                type = std::stoi(typeText);
#ifdef __linux__
            if (type < 0) type = UartTypeFromDevice(node.string());
#endif
            if (type <= 0) continue;
        }
        if (!device.empty() && family != "ttyS") ReadUsbDetails(device, sysBase, &port);

        std::error_code c;
        const fs::path canonicalNode = fs::canonical(node, c);
        if (!c)
            for (const auto& link : byId)
                if (link.first == canonicalNode) port.aliases.push_back(link.second);
        std::sort(port.aliases.begin(), port.aliases.end());

        ProbeAccess(node.string(), &port);
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return PortNameLess(a.name, b.name); });
    return ports;
}

std::vector<SerialPortInfo> ListSerialPorts() { return ListSerialPortsUnder(std::string()); }

}  // namespace platform

#include "platform/line_probe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/sys.h"

namespace platform {

namespace {

LineProbe Probe(LineFault fault, const std::string& detail) {
    LineProbe p;
    p.fault = fault;
    p.detail = detail;
    return p;
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry;
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->gr_name)
        return std::string();
    return found->gr_name;
}

LineFault FaultOfOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:  // a device node with no device behind it
        case ENODEV:
            return LineFault::kNoSuchPort;
        case EACCES:
        case EPERM:
        case EROFS:
            return LineFault::kDenied;
        case EBUSY:  // TIOCEXCL
            return LineFault::kBusy;
        default:
            return LineFault::kOther;
    }
}

LineFault FaultOfConnectError(int error) {
    switch (error) {
        case ECONNREFUSED:
        case ECONNRESET:
            return LineFault::kRefused;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
        case EADDRNOTAVAIL:
            return LineFault::kUnreachable;
        case ETIMEDOUT:
            return LineFault::kTimedOut;
        default:
            return LineFault::kOther;
    }
}

}  // namespace

LineProbe ProbeSerialPort(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos) return Probe(LineFault::kNoSuchPort, "no name");
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) {
        const int error = errno;
        return Probe(FaultOfOpenError(error), std::strerror(error));
    }
    if (!S_ISCHR(st.st_mode)) return Probe(LineFault::kNotSerial, "not a character device");
    // As the driver opens it; O_NONBLOCK: no wait for carrier.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        LineProbe p = Probe(FaultOfOpenError(error), std::strerror(error));
        if (p.fault == LineFault::kDenied) p.group = GroupName(st.st_gid);
        return p;
    }
    LineProbe p = Probe(LineFault::kNone, std::string());
    if (!isatty(fd)) {
        p = Probe(LineFault::kNotSerial, std::strerror(ENOTTY));
    } else {
#ifdef TIOCGEXCL
        // Root passes an exclusive hold; it is told all the same.
        int exclusive = 0;
        if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            p = Probe(LineFault::kBusy, "held exclusively by another program");
#endif
        if (p.fault == LineFault::kNone) {
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                if (errno == EWOULDBLOCK) p = Probe(LineFault::kBusy, "locked by another program");
            } else {
                flock(fd, LOCK_UN);
            }
        }
    }
    ::close(fd);
    return p;
}

LineProbe ProbeTcpHost(const std::string& host, uint16_t port, unsigned timeoutMs) {
    if (host.empty() || host.find('\0') != std::string::npos) return Probe(LineFault::kNoSuchHost, "no host");
    sockaddr_in to;
    std::memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (r != 0 || !found || !found->ai_addr) {
            if (found) freeaddrinfo(found);
            return Probe(LineFault::kNoSuchHost, r != 0 ? gai_strerror(r) : "no IPv4 address");
        }
        sockaddr_in first;
        std::memcpy(&first, found->ai_addr, sizeof first);
        to.sin_addr = first.sin_addr;
        freeaddrinfo(found);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int error = errno;
        return Probe(LineFault::kOther, std::strerror(error));
    }
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        error = errno;
        if (error == EINPROGRESS || error == EINTR) {
            const uint64_t deadline = MonotonicMs() + timeoutMs;
            error = ETIMEDOUT;
            for (;;) {
                const uint64_t now = MonotonicMs();
                if (now >= deadline) break;
                pollfd pfd{fd, POLLOUT, 0};
                const int r = ::poll(&pfd, 1, static_cast<int>(deadline - now));
                if (r < 0 && errno == EINTR) continue;
                if (r > 0) {
                    socklen_t length = sizeof error;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
                }
                break;
            }
        }
    }
    ::close(fd);
    if (error == 0) return Probe(LineFault::kNone, std::string());
    return Probe(FaultOfConnectError(error), std::strerror(error));
}

}  // namespace platform

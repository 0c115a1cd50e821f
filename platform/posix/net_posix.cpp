#include "platform/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/wait_posix.h"
#include "platform/sys.h"

namespace platform {

namespace {

int Fd(SocketHandle s) { return static_cast<int>(static_cast<intptr_t>(s)); }
SocketHandle Handle(int fd) { return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd); }

#ifdef MSG_NOSIGNAL
const int kSendFlags = MSG_NOSIGNAL;
#else
const int kSendFlags = 0;  // SO_NOSIGPIPE is set on the socket instead
#endif

int PollMs(long timeoutUs) {
    if (timeoutUs <= 0) return 0;
    // poll counts whole milliseconds: a wait shorter than one is a bare look.
    return timeoutUs < 1000 ? 0 : static_cast<int>(timeoutUs / 1000);
}

int WaitFor(SocketHandle s, short events, long timeoutUs) {
    if (s == kInvalidSocket) return -1;
    uint64_t deadline = MonotonicMs() + static_cast<uint64_t>(PollMs(timeoutUs));
    for (;;) {
        uint64_t now = MonotonicMs();
        int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
        pollfd pfd{Fd(s), events, 0};
        int r = ::poll(&pfd, 1, left);
        if (r > 0) return (pfd.revents & POLLNVAL) ? -1 : 1;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

bool NetStartup() { return true; }
void NetCleanup() {}

SocketHandle TcpSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidSocket;
#ifdef SO_NOSIGPIPE
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof(one));
#endif
    return Handle(fd);
}

void SetKeepAlive(SocketHandle s) {
    if (s == kInvalidSocket) return;
    int fd = Fd(s);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    // Whole seconds here: first probe after 2 s idle, then every second
    // (the nearest to 300 ms).
#ifdef TCP_KEEPIDLE
    int idle = 2;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
#endif
#ifdef TCP_KEEPINTVL
    int interval = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
#endif
}

void SetNonBlocking(SocketHandle s, bool on) {
    if (s == kInvalidSocket) return;
    int flags = fcntl(Fd(s), F_GETFL, 0);
    if (flags < 0) return;
    fcntl(Fd(s), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

bool ResolveIPv4(const char* host, uint32_t* address) {
    if (!host || !address) return false;
    in_addr dotted;
    if (inet_pton(AF_INET, host, &dotted) == 1) {
        *address = dotted.s_addr;
        return true;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0 || !result) return false;
    bool found = false;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr) {
            sockaddr_in sin;
            std::memcpy(&sin, ai->ai_addr, sizeof(sin));
            *address = sin.sin_addr.s_addr;
            found = true;
            break;
        }
    }
    freeaddrinfo(result);
    return found;
}

int StartConnect(SocketHandle s, uint32_t address, uint16_t port) {
    if (s == kInvalidSocket) return -1;
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = address;
    int r;
    do {
        r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    } while (r != 0 && errno == EINTR);
    if (r == 0) return 0;
    return errno == EINPROGRESS || errno == EALREADY ? 1 : -1;
}

bool WaitConnected(SocketHandle s, long timeoutUs) {
    if (WaitFor(s, POLLOUT, timeoutUs) != 1) return false;
    // Writable also means "connect failed" here: ask for the outcome.
    int error = 0;
    socklen_t len = sizeof(error);
    if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return false;
    return error == 0;
}

int WaitWritable(SocketHandle s, long timeoutUs) { return WaitFor(s, POLLOUT, timeoutUs); }
int WaitReadable(SocketHandle s, long timeoutUs) { return WaitFor(s, POLLIN, timeoutUs); }

WaitOutcome WaitReadableOrWake(SocketHandle s, unsigned ms, WakeSignal* wake) {
    return PollOrWake(s == kInvalidSocket ? -1 : Fd(s), POLLIN, ms, wake);
}

long SocketSend(SocketHandle s, const void* data, size_t size) {
    if (s == kInvalidSocket) return -1;
    for (;;) {
        ssize_t n = ::send(Fd(s), data, size, kSendFlags | MSG_DONTWAIT);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

long SocketReceive(SocketHandle s, void* buffer, size_t size) {
    if (s == kInvalidSocket) return -1;
    for (;;) {
        ssize_t n = ::recv(Fd(s), buffer, size, MSG_DONTWAIT);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

long SocketPeek(SocketHandle s, void* buffer, size_t size) {
    if (s == kInvalidSocket) return -1;
    for (;;) {
        ssize_t n = ::recv(Fd(s), buffer, size, MSG_DONTWAIT | MSG_PEEK);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

long SocketSendUrgent(SocketHandle s, const void* data, size_t size) {
    if (s == kInvalidSocket) return -1;
    ssize_t n = ::send(Fd(s), data, size, kSendFlags | MSG_DONTWAIT | MSG_OOB);
    return n >= 0 ? static_cast<long>(n) : -1;
}

void CloseSocket(SocketHandle s) {
    if (s != kInvalidSocket) ::close(Fd(s));
}

SocketHandle ListenLoopback(uint16_t port, uint16_t* boundPort) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidSocket;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sin;
    std::memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sin);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0 || ::listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    if (boundPort) *boundPort = ntohs(sin.sin_port);
    return Handle(fd);
}

SocketHandle AcceptWithin(SocketHandle listener, unsigned timeoutMs) {
    if (WaitFor(listener, POLLIN, static_cast<long>(timeoutMs) * 1000) != 1) return kInvalidSocket;
    int fd;
    do {
        fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
#ifdef SO_NOSIGPIPE
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#endif
    }
    return Handle(fd);
}

}  // namespace platform

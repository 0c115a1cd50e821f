#include "platform/pty.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace platform {

namespace {

bool SetNonBlockingCloexec(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) return false;
    int fdfl = fcntl(fd, F_GETFD);
    return fdfl >= 0 && fcntl(fd, F_SETFD, fdfl | FD_CLOEXEC) >= 0;
}

int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool IsCooked(const termios& t) { return (t.c_lflag & (ICANON | ECHO)) != 0; }

}  // namespace

int PtyOpenMaster(std::string* slavePath) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return kNoHandle;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0 ||
        !SetNonBlockingCloexec(master)) {
        close(master);
        return kNoHandle;
    }
    // Until the slave has been opened once, the master cannot tell whether a
    // client is there (no hang-up is reported and writes are kept for the
    // first opener). One open and close puts it in the hung-up state.
    int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        return kNoHandle;
    }
    close(slave);
    if (slavePath) *slavePath = name;
    return master;
}

bool PtyPeerOpen(int master) {
    if (master < 0) return false;
    pollfd p{master, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool PtyPeerCooked(int master) {
    termios t;
    if (master < 0 || tcgetattr(master, &t) != 0) return true;
    return IsCooked(t);
}

int TtyOpen(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? kNoHandle : fd;
}

bool TtyHoldExclusively(int handle) { return handle >= 0 && flock(handle, LOCK_EX | LOCK_NB) == 0; }

bool TtySetRaw(int handle) {
    termios t;
    if (tcgetattr(handle, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(handle, TCSANOW, &t) == 0;
}

bool TtyIsCooked(int handle) {
    termios t;
    if (tcgetattr(handle, &t) != 0) return false;
    return IsCooked(t);
}

int TcpListen(uint16_t port, uint16_t* boundPort) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoHandle;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return kNoHandle;
    }
    if (boundPort) *boundPort = ntohs(addr.sin_port);
    return fd;
}

int TcpAccept(int listener) {
    int fd;
    do {
        fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNoHandle;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int TcpConnect(uint16_t port, int timeoutMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoHandle;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return kNoHandle;
        }
        WaitItem item{fd, kWaitWritable, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (WaitHandles(&item, 1, timeoutMs) <= 0 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            close(fd);
            return kNoHandle;
        }
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

long IoRead(int handle, void* buf, size_t size) {
    if (handle < 0) return kIoError;
    if (size == 0) return 0;
    for (;;) {
        ssize_t r = read(handle, buf, size);
        if (r > 0) return static_cast<long>(r);
        if (r == 0) {
            // A raw terminal (VMIN = VTIME = 0) reads 0 when nothing is
            // waiting, as well as after a hang-up: ask the line which it is.
            // Anything else reads 0 only at its end.
            if (!isatty(handle)) return kIoClosed;
            pollfd p{handle, POLLIN, 0};
            return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? kIoClosed : 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (errno == EIO || errno == ECONNRESET || errno == EPIPE) return kIoClosed;
        return kIoError;
    }
}

long IoWrite(int handle, const void* data, size_t size) {
    if (handle < 0) return kIoError;
    if (size == 0) return 0;
    for (;;) {
        ssize_t r = send(handle, data, size, MSG_NOSIGNAL);
        if (r < 0 && errno == ENOTSOCK) r = write(handle, data, size);
        if (r >= 0) return static_cast<long>(r);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (errno == EIO || errno == ECONNRESET || errno == EPIPE) return kIoClosed;
        return kIoError;
    }
}

void IoClose(int handle) {
    if (handle >= 0) close(handle);
}

void TcpAbort(int handle) {
    if (handle < 0) return;
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(handle, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(handle);
}

int WaitHandles(WaitItem* items, size_t count, int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<size_t> index;
    fds.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        items[i].got = 0;
        if (items[i].handle < 0) continue;
        short ev = 0;
        if (items[i].want & kWaitReadable) ev |= POLLIN;
        if (items[i].want & kWaitWritable) ev |= POLLOUT;
        fds.push_back(pollfd{items[i].handle, ev, 0});
        index.push_back(i);
    }
    const int64_t deadline = timeoutMs > 0 ? NowMs() + timeoutMs : 0;
    int r;
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs > 0) {
            int64_t left = deadline - NowMs();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        r = poll(fds.data(), fds.size(), wait);
        if (r >= 0 || errno != EINTR) break;
    }
    if (r <= 0) return r < 0 ? -1 : 0;
    int ready = 0;
    for (size_t k = 0; k < fds.size(); ++k) {
        int got = 0;
        if (fds[k].revents & POLLIN) got |= kWaitReadable;
        if (fds[k].revents & POLLOUT) got |= kWaitWritable;
        if (fds[k].revents & POLLHUP) got |= kWaitHangUp;
        if (fds[k].revents & (POLLERR | POLLNVAL)) got |= kWaitError;
        items[index[k]].got = got;
        if (got) ++ready;
    }
    return ready;
}

WakePipe::WakePipe() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        read_ = fds[0];
        write_ = fds[1];
    }
}

WakePipe::~WakePipe() {
    IoClose(read_);
    IoClose(write_);
}

void WakePipe::Signal() {
    if (write_ < 0) return;
    const char b = 1;
    // A full pipe already wakes the reader: the failed write is harmless.
    ssize_t r;
    do {
        r = write(write_, &b, 1);
    } while (r < 0 && errno == EINTR);
}

void WakePipe::Drain() {
    if (read_ < 0) return;
    char buf[64];
    while (read(read_, buf, sizeof buf) > 0) {
    }
}

std::string MakePrivateTempDir(const std::string& prefix) {
    const char* tmp = getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string templ = base + "/" + prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return std::string();
    return std::string(buf.data());
}

bool ReplaceSymlink(const std::string& target, const std::string& link) {
    std::string temp = link + ".new";
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (rename(temp.c_str(), link.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::string ReadSymlink(const std::string& link) {
    char buf[4096];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

bool RemovePath(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return rmdir(path.c_str()) == 0;
    return unlink(path.c_str()) == 0;
}

int StdinHandle() { return STDIN_FILENO; }

}  // namespace platform

#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/posix/wait_posix.h"
#include "platform/sys.h"

namespace platform {

#ifdef __linux__
bool SetCustomSerialSpeed(int fd, int baud);  // serial_speed_linux.cpp
#endif

namespace {

struct SpeedEntry {
    int32_t baud;
    speed_t speed;
};

const SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool SpeedFor(int32_t baud, speed_t* speed) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.baud == baud) {
            *speed = e.speed;
            return true;
        }
    }
    return false;
}

// Unix98 pseudo-terminal slaves (majors 136..143 on Linux).
bool IsPseudoTerminal(int fd) {
#ifdef __linux__
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
#else
    (void)fd;
    return false;
#endif
}

// Writes the record; true when the device took it.
bool Apply(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) return true;
    if (errno != EINVAL || !IsPseudoTerminal(fd)) return false;
    // A pseudo-terminal carries bytes, not bits on a wire: Linux keeps it at
    // 8 data bits without parity, and the C library reports that as a
    // refusal. Everything else was applied; data bits and parity have no
    // meaning there, so the simulator and the tests can run scales that
    // want even parity or 7 bits on one.
    termios now;
    if (tcgetattr(fd, &now) != 0) return false;
    const tcflag_t kIgnored = CSIZE | PARENB | PARODD
#ifdef CMSPAR
                              | CMSPAR
#endif
        ;
    return (now.c_cflag & ~kIgnored) == (wanted.c_cflag & ~kIgnored) && now.c_iflag == wanted.c_iflag &&
           now.c_oflag == wanted.c_oflag && now.c_lflag == wanted.c_lflag;
}

}  // namespace

struct SerialLine::Native {
    int fd = -1;
    termios tio{};
    bool haveState = false;
    // A value the line cannot take (unknown baud rate, parity code ...):
    // the next SetState refuses, as SetCommState does on Windows.
    bool badBaud = false;
    bool badParity = false;
    bool badByteSize = false;
    bool badStopBits = false;
    // A speed without a termios constant, set by number after the record.
    int32_t customBaud = 0;
};

SerialLine::SerialLine() : native_(new (std::nothrow) Native) {}

SerialLine::~SerialLine() {
    Close();
    delete native_;
}

bool SerialLine::IsOpen() const { return native_ && native_->fd >= 0; }

bool SerialLine::Open(const char* name) {
    if (!native_ || !name || !name[0] || native_->fd >= 0) return false;
    // O_NONBLOCK: open never waits for carrier and reads never wait.
    int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!isatty(fd)) {
        ::close(fd);
        errno = ENOTTY;
        return false;
    }
    // Exclusive use: TIOCEXCL refuses later opens (except to root), the
    // flock refuses a second opener that asks for the same, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ioctl(fd, TIOCEXCL);
    native_->fd = fd;
    native_->haveState = false;
    native_->badBaud = native_->badParity = native_->badByteSize = native_->badStopBits = false;
    return true;
}

bool SerialLine::GetState() {
    if (!IsOpen()) return false;
    termios t;
    if (tcgetattr(native_->fd, &t) != 0) return false;
    // Windows has no line discipline: what the scale sends is what a read
    // gets. Raw mode is the equivalent; it goes to the device with the next
    // write of the state. No echo, no CR/LF translation, no stripping of the
    // eighth bit, no software flow control (SetXonXoff turns it on), no
    // output processing, no signals from the line.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR);
#ifdef IUCLC
    t.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
#ifdef IMAXBEL
    t.c_iflag &= ~static_cast<tcflag_t>(IMAXBEL);
#endif
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    native_->tio = t;
    native_->haveState = true;
    return true;
}

bool SerialLine::GetTimeouts() {
    // Read time-outs are VMIN/VTIME inside the termios record read by
    // GetState.
    return IsOpen() && native_->haveState;
}

bool SerialLine::SetReadsReturnAtOnce() {
    if (!IsOpen() || !native_->haveState) return false;
    native_->tio.c_cc[VMIN] = 0;
    native_->tio.c_cc[VTIME] = 0;
    return Apply(native_->fd, native_->tio);
}

bool SerialLine::SetState() {
    if (!IsOpen() || !native_->haveState) return false;
    if (native_->badBaud || native_->badParity || native_->badByteSize || native_->badStopBits) return false;
    if (!Apply(native_->fd, native_->tio)) return false;
#ifdef __linux__
    if (native_->customBaud > 0) return SetCustomSerialSpeed(native_->fd, native_->customBaud);
#endif
    return true;
}

void SerialLine::SetBaudRate(int32_t baud) {
    if (!native_) return;
    speed_t speed;
    native_->customBaud = 0;
    native_->badBaud = !SpeedFor(baud, &speed);
#ifdef __linux__
    if (native_->badBaud && baud > 0) {
        // Any other positive speed goes by number, as on Windows; the
        // record keeps a standard one until then.
        native_->badBaud = false;
        native_->customBaud = baud;
        speed = B38400;
    }
#endif
    if (native_->badBaud) return;
    cfsetispeed(&native_->tio, speed);
    cfsetospeed(&native_->tio, speed);
}

void SerialLine::SetParity(uint8_t code) {
    if (!native_) return;
    tcflag_t& c = native_->tio.c_cflag;
#ifdef CMSPAR
    const tcflag_t kStick = CMSPAR;
#else
    const tcflag_t kStick = 0;
#endif
    native_->badParity = false;
    switch (code) {
    case 0: c &= ~static_cast<tcflag_t>(PARENB | PARODD | kStick); break;
    case 1: c = (c & ~kStick) | PARENB | PARODD; break;
    case 2: c = (c & ~static_cast<tcflag_t>(PARODD | kStick)) | PARENB; break;
    // Mark and space are "stick" parity: CMSPAR with PARODD gives a parity
    // bit that is always 1 (mark), without it always 0 (space). Where the
    // system has no CMSPAR they are refused.
    case 3:
        if (kStick == 0) native_->badParity = true;
        else c |= PARENB | PARODD | kStick;
        break;
    case 4:
        if (kStick == 0) native_->badParity = true;
        else c = (c & ~static_cast<tcflag_t>(PARODD)) | PARENB | kStick;
        break;
    default: native_->badParity = true; break;
    }
}

void SerialLine::SetByteSize(uint8_t bits) {
    if (!native_) return;
    tcflag_t size;
    switch (bits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: native_->badByteSize = true; return;
    }
    native_->badByteSize = false;
    native_->tio.c_cflag = (native_->tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;
}

void SerialLine::SetStopBits(uint8_t code) {
    if (!native_) return;
    native_->badStopBits = false;
    switch (code) {
    case 0: native_->tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB); break;
    // termios knows one or two stop bits; one and a half (used with 5 data
    // bits) is sent as two.
    case 1:
    case 2: native_->tio.c_cflag |= CSTOPB; break;
    default: native_->badStopBits = true; break;
    }
}

void SerialLine::SetRtsCtsFlow(bool on) {
    if (!native_) return;
#ifdef CRTSCTS
    if (on) native_->tio.c_cflag |= CRTSCTS;
    else native_->tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    if (!on && IsOpen()) {
        // RTS held on, as RTS_CONTROL_ENABLE does.
        int bits = TIOCM_RTS;
        ioctl(native_->fd, TIOCMBIS, &bits);
    }
}

void SerialLine::SetNoHardwareFlow() { SetRtsCtsFlow(false); }

void SerialLine::SetXonXoff(bool on) {
    if (!native_) return;
    if (on) native_->tio.c_iflag |= IXON | IXOFF;
    else native_->tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
}

long SerialLine::Read(void* buffer, size_t size) {
    if (!IsOpen()) return -1;
    if (size == 0) return 0;
    for (;;) {
        ssize_t n = ::read(native_->fd, buffer, size);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) {
            // With VMIN = VTIME = 0 a read of nothing and the end of a line
            // that was hung up (adapter unplugged, pty master gone) both
            // give 0: ask the line which it is.
            pollfd pfd{native_->fd, POLLIN, 0};
            if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) return -1;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;  // EIO after a hang-up, device gone ...
    }
}

long SerialLine::Write(const void* data, size_t size) {
    if (!IsOpen()) return -1;
    // The line is non-blocking; a full output buffer is waited out for up
    // to a second without progress, then the count written so far is
    // returned (a write time-out on Windows does the same).
    const auto* p = static_cast<const unsigned char*>(data);
    size_t done = 0;
    uint64_t lastProgress = MonotonicMs();
    while (done < size) {
        ssize_t n = ::write(native_->fd, p + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            lastProgress = MonotonicMs();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return done > 0 ? static_cast<long>(done) : -1;
        uint64_t waited = MonotonicMs() - lastProgress;
        if (waited >= 1000) break;
        pollfd pfd{native_->fd, POLLOUT, 0};
        int r = ::poll(&pfd, 1, static_cast<int>(1000 - waited));
        if (r < 0 && errno != EINTR) return done > 0 ? static_cast<long>(done) : -1;
        if (r > 0 && (pfd.revents & (POLLERR | POLLNVAL))) return done > 0 ? static_cast<long>(done) : -1;
    }
    return static_cast<long>(done);
}

bool SerialLine::WaitReadable(unsigned ms) {
    if (!IsOpen()) return false;
    uint64_t deadline = MonotonicMs() + ms;
    for (;;) {
        uint64_t now = MonotonicMs();
        int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
        pollfd pfd{native_->fd, POLLIN, 0};
        int r = ::poll(&pfd, 1, left);
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

WaitOutcome SerialLine::WaitReadableOrWake(unsigned ms, WakeSignal* wake) {
    return PollOrWake(IsOpen() ? native_->fd : -1, POLLIN, ms, wake);
}

#ifndef __linux__
// Linux reads the termios2 record instead (serial_speed_linux.cpp), which
// also sees the speeds set by number.
bool TtyReadLineSettings(int handle, TtyLineSettings* out) {
    termios t;
    if (!out || tcgetattr(handle, &t) != 0) return false;
    TtyLineSettings s;
    const speed_t speed = cfgetospeed(&t);
    for (const SpeedEntry& e : kSpeeds) {
        if (e.speed == speed) s.baud = e.baud;
    }
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    s.parity = (t.c_cflag & PARENB) != 0;
    s.oddParity = (t.c_cflag & PARODD) != 0;
    s.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    *out = s;
    return true;
}
#endif

bool SerialLine::Close() {
    if (!IsOpen()) return true;
    int fd = native_->fd;
    native_->fd = -1;
    native_->haveState = false;
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    return ::close(fd) == 0;
}

}  // namespace platform

// Serial speeds that termios has no constant for (56000 and 256000 of the
// setup form, and any other): Linux takes them as a number through the
// termios2 record, and the read-back of a line's settings that sees them.
// Kept apart because its header clashes with <termios.h>.
#ifdef __linux__

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/serial.h"

namespace platform {

bool SetCustomSerialSpeed(int fd, int baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(baud);
    t.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &t) == 0;
}

namespace {

struct SpeedCode {
    tcflag_t code;
    int32_t baud;
};

// Speed codes of the record, each with the speed it stands for.
const SpeedCode kSpeedCodes[] = {
    {B0, 0},           {B50, 50},         {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},         {B600, 600},         {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},     {B4800, 4800},       {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

}  // namespace

bool TtyReadLineSettings(int handle, TtyLineSettings* out) {
    struct termios2 t;
    if (!out || ioctl(handle, TCGETS2, &t) != 0) return false;
    TtyLineSettings s;
    const tcflag_t code = t.c_cflag & CBAUD;
    if (code == BOTHER) {
        s.baud = static_cast<int32_t>(t.c_ospeed);
    } else {
        for (const SpeedCode& e : kSpeedCodes) {
            if (e.code == code) s.baud = e.baud;
        }
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

}  // namespace platform

#endif

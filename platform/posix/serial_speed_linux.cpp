// Serial speeds that termios has no constant for (56000 and 256000 of the
// setup form, and any other): Linux takes them as a number through the
// termios2 record. Kept apart because its header clashes with <termios.h>.
#ifdef __linux__

#include <asm/termbits.h>
#include <sys/ioctl.h>

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

}  // namespace platform

#endif

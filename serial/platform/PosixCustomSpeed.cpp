#include "serial/platform/PosixCustomSpeed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace SerialPlatform {

int SetCustomSpeed(int Fd, unsigned Speed)
{
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    t.c_ospeed = Speed;
    t.c_ispeed = Speed;
    return ioctl(Fd, TCSETS2, &t) == 0 ? 0 : errno;
}

unsigned GetLineSpeed(int Fd)
{
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

} // namespace SerialPlatform

#include "serial/platform/PosixCustomSpeed.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstddef>
#include <sys/ioctl.h>

namespace SerialPlatform {

static_assert(sizeof(TKernelTermios) == sizeof(termios2));
static_assert(offsetof(TKernelTermios, c_cc) == offsetof(termios2, c_cc));
static_assert(offsetof(TKernelTermios, c_ispeed) == offsetof(termios2, c_ispeed));
static_assert(sizeof(TKernelTermios::c_cc) == sizeof(termios2::c_cc));

const unsigned long GetTermios2 = TCGETS2;
const unsigned long SetTermios2 = TCSETS2;

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

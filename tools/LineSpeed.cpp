#include "tools/LineSpeed.h"

// The kernel's own termios, which carries any speed as a number; it cannot
// share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace SimDevice {

int32_t LineSpeed(int Fd)
{
    struct termios2 t {};
    if (ioctl(Fd, TCGETS2, &t) != 0) return 0;
    return static_cast<int32_t>(t.c_ospeed);
}

} // namespace SimDevice

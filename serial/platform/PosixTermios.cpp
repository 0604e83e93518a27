#include "serial/platform/PosixTermios.h"

#include <cerrno>

namespace SerialPlatform {

speed_t StandardSpeed(uint32_t Speed)
{
    switch (Speed) {
    case 50: return B50;         case 75: return B75;         case 110: return B110;
    case 134: return B134;       case 150: return B150;       case 200: return B200;
    case 300: return B300;       case 600: return B600;       case 1200: return B1200;
    case 1800: return B1800;     case 2400: return B2400;     case 4800: return B4800;
    case 9600: return B9600;     case 19200: return B19200;   case 38400: return B38400;
    case 57600: return B57600;   case 115200: return B115200; case 230400: return B230400;
    case 460800: return B460800; case 500000: return B500000; case 576000: return B576000;
    case 921600: return B921600; case 1000000: return B1000000;
    case 1152000: return B1152000; case 1500000: return B1500000; case 2000000: return B2000000;
    default: return B0;
    }
}

int LineSettingsToTermios(const TLineSettings& s, termios& t)
{
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(HUPCL | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // Nothing a previous program left behind survives.
    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | IGNPAR | PARMRK | IGNBRK | IUCLC | IMAXBEL);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    switch (s.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return EINVAL;
    }
    switch (s.Parity) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
    }
    if (s.StopBits > 2) return EINVAL;
    if (s.StopBits != 0) t.c_cflag |= CSTOPB; // 1.5 has no flag of its own
    if (s.fParity) t.c_iflag |= INPCK;
    if (s.fOutxCtsFlow || s.fRtsControl == 2) t.c_cflag |= CRTSCTS;
    if (s.fOutX) t.c_iflag |= IXON;
    if (s.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.XonChar;
    t.c_cc[VSTOP] = s.XoffChar;
    if (s.BaudRate == 0 || s.BaudRate > 0x7FFFFFFF) return EINVAL;
    return 0;
}

} // namespace SerialPlatform

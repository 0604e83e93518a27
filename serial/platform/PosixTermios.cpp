#include "serial/platform/PosixTermios.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

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
    // A byte with a parity error comes marked (0xFF 0x00 byte, a real 0xFF
    // doubled) so that it can be delivered as itself or replaced; without
    // the mark the kernel would hand a NUL in its place.
    if (s.fParity) t.c_iflag |= INPCK | PARMRK;
    if (s.fOutxCtsFlow || s.fRtsControl == 2) t.c_cflag |= CRTSCTS;
    if (s.fOutX) t.c_iflag |= IXON;
    if (s.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.XonChar;
    t.c_cc[VSTOP] = s.XoffChar;
    if (s.BaudRate == 0 || s.BaudRate > 0x7FFFFFFF) return EINVAL;
    return 0;
}

namespace {

// The input speed follows the output speed when its bits are 0.
constexpr tcflag_t InputSpeedBits = CBAUD << 16;
constexpr tcflag_t OtherSpeed = CBAUDEX; // the kernel's BOTHER

} // namespace

int LineSettingsToKernelTermios(const TLineSettings& s, TKernelTermios& k)
{
    termios t{};
    t.c_iflag = k.c_iflag;
    t.c_oflag = k.c_oflag;
    t.c_cflag = k.c_cflag;
    t.c_lflag = k.c_lflag;
    t.c_line = k.c_line;
    static_assert(sizeof k.c_cc <= sizeof t.c_cc);
    std::copy(std::begin(k.c_cc), std::end(k.c_cc), t.c_cc);
    if (const int error = LineSettingsToTermios(s, t)) return error;
    k.c_iflag = t.c_iflag;
    k.c_oflag = t.c_oflag;
    k.c_lflag = t.c_lflag;
    std::copy_n(t.c_cc, sizeof k.c_cc, k.c_cc);
    k.c_cflag = t.c_cflag & ~(CBAUD | InputSpeedBits);
    const speed_t standard = StandardSpeed(s.BaudRate);
    k.c_cflag |= standard != B0 ? standard : OtherSpeed;
    k.c_ispeed = s.BaudRate;
    k.c_ospeed = s.BaudRate;
    return 0;
}

int CheckSettingsTaken(const TKernelTermios& Asked, const TKernelTermios& Got, bool PseudoTerminal)
{
    tcflag_t framing = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    if (PseudoTerminal) framing &= ~(CSIZE | PARENB | PARODD | CMSPAR);
    if ((Asked.c_cflag & framing) != (Got.c_cflag & framing)) return EINVAL;
    const uint64_t asked = Asked.c_ospeed;
    const uint64_t got = Got.c_ospeed;
    const uint64_t off = asked > got ? asked - got : got - asked;
    if (off * 50 > asked) return EINVAL;
    return 0;
}

unsigned BitsPerCharacter(const TKernelTermios& k)
{
    unsigned bits = 1;
    switch (k.c_cflag & CSIZE) {
    case CS5: bits += 5; break;
    case CS6: bits += 6; break;
    case CS7: bits += 7; break;
    default: bits += 8; break;
    }
    if (k.c_cflag & PARENB) bits += 1;
    bits += (k.c_cflag & CSTOPB) ? 2 : 1;
    return bits;
}

} // namespace SerialPlatform

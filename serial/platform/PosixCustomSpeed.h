#pragma once
// Any line speed in bit/s, through the kernel's second termios record. Kept
// apart because that record's header and <termios.h> cannot meet in one file.

#include <cstdint>

namespace SerialPlatform {

// The kernel's second termios record, field for field, for files that see
// <termios.h>.
struct TKernelTermios {
    uint32_t c_iflag = 0;
    uint32_t c_oflag = 0;
    uint32_t c_cflag = 0;
    uint32_t c_lflag = 0;
    uint8_t c_line = 0;
    uint8_t c_cc[19] = {};
    uint32_t c_ispeed = 0;
    uint32_t c_ospeed = 0;

    bool operator==(const TKernelTermios&) const = default;
};

// The requests that read and write that record.
extern const unsigned long GetTermios2;
extern const unsigned long SetTermios2;

// 0 or an error number.
int SetCustomSpeed(int Fd, unsigned Speed);
// The output speed the line is set to, or 0 when it cannot be read.
unsigned GetLineSpeed(int Fd);

} // namespace SerialPlatform

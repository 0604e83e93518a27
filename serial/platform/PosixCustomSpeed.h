#pragma once
// Any line speed in bit/s, through the kernel's second termios record. Kept
// apart because that record's header and <termios.h> cannot meet in one file.

namespace SerialPlatform {

// 0 or an error number.
int SetCustomSpeed(int Fd, unsigned Speed);
// The output speed the line is set to, or 0 when it cannot be read.
unsigned GetLineSpeed(int Fd);

} // namespace SerialPlatform

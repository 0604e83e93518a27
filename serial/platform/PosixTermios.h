#pragma once
// The line-settings record as a termios record.

#include <termios.h>

#include "serial/platform/PosixCustomSpeed.h"
#include "serial/platform/SerialPlatform.h"

namespace SerialPlatform {

// The B-constant of a standard speed, or B0 for any other speed.
speed_t StandardSpeed(uint32_t Speed);
// Fills every field the record decides; the speed is left to the caller.
// Returns 0, or EINVAL for a value the line cannot take.
int LineSettingsToTermios(const TLineSettings& Settings, termios& Termios);
// The same into the kernel's second record, the speed included: a standard
// speed as its constant, any other in bit/s. Fields the record does not
// decide keep what Termios held.
int LineSettingsToKernelTermios(const TLineSettings& Settings, TKernelTermios& Termios);
// 0 when the driver kept what it was asked (read back after setting), EINVAL
// when it made another speed (beyond 2 %, the kernel's own tolerance for
// naming a speed) or dropped a data-bit, parity, stop-bit or handshake flag.
// A pseudo-terminal keeps 8 data bits and no parity whatever it is told; it
// has no line to frame, so those are not held against it.
int CheckSettingsTaken(const TKernelTermios& Asked, const TKernelTermios& Got, bool PseudoTerminal);
// Bits on the line per character: start, data, parity and stop bits.
unsigned BitsPerCharacter(const TKernelTermios& Termios);

} // namespace SerialPlatform

#pragma once
// The line-settings record as a termios record.

#include <termios.h>

#include "serial/platform/SerialPlatform.h"

namespace SerialPlatform {

// The B-constant of a standard speed, or B0 for any other speed.
speed_t StandardSpeed(uint32_t Speed);
// Fills every field the record decides; the speed is left to the caller.
// Returns 0, or EINVAL for a value the line cannot take.
int LineSettingsToTermios(const TLineSettings& Settings, termios& Termios);

} // namespace SerialPlatform

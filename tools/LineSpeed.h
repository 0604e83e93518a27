#pragma once

#include <cstdint>

namespace SimDevice {

// The output speed the terminal behind Fd is set to, in bit/s, whether it was
// set as one of the standard speeds or as any other number; 0 when it cannot
// be read.
int32_t LineSpeed(int Fd);

} // namespace SimDevice

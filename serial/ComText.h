#pragma once
// Text forms of the port settings, as the operator picks them.

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/ComTypes.h"

// Whole-text match with a-z folded to A-Z; text that matches no form gives
// br9600, never an error.
TBaudRate TextToBaudRate(std::string_view Text);
std::string BaudRateToText(TBaudRate BaudRate);

// Line speed in bit/s; brCustom stands for CustomBaudRate.
int32_t BaudRateToBits(TBaudRate BaudRate, int32_t CustomBaudRate);

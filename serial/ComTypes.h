#pragma once
// The value types of the port's settings. Ordinals follow the declaration
// order, which stored settings and the text forms rely on.

#include <cstdint>

enum class TBaudRate : uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum class TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum class TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum class TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum class TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum class TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum class TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum class TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };

#pragma once
// Text forms of the port settings, as the operator picks them and as
// settings are stored. Text to value matches whole texts with a-z folded to
// A-Z and never fails: text that matches no form gives the type's default.

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/ComTypes.h"

TBaudRate TextToBaudRate(std::string_view Text);      // default br9600
std::string BaudRateToText(TBaudRate Value);
TStopBits TextToStopBits(std::string_view Text);      // default sbOneStopBit
std::string StopBitsToText(TStopBits Value);
TDataBits TextToDataBits(std::string_view Text);      // default dbEight
std::string DataBitsToText(TDataBits Value);
TParityBits TextToParity(std::string_view Text);      // default prNone
std::string ParityToText(TParityBits Value);
TFlowControl TextToFlowControl(std::string_view Text); // default fcCustom
std::string FlowControlToText(TFlowControl Value);
TDTRFlowControl TextToDTRControl(std::string_view Text); // default dtrDisable
std::string DTRControlToText(TDTRFlowControl Value);
TRTSFlowControl TextToRTSControl(std::string_view Text); // default rtsDisable
std::string RTSControlToText(TRTSFlowControl Value);

// "Yes" and "No"; only "YES" in any letter case reads as true.
bool TextToYesNo(std::string_view Text);
std::string YesNoToText(bool Value);

// Codes 33..127 as themselves, every other code as "#" and the code in
// decimal. Back: "" gives 0, "#n" the low 8 bits of n (0 when n is no
// integer), anything else its first character.
std::string CharSettingToText(char16_t Value);
char16_t TextToCharSetting(std::string_view Text);

// Line speed in bit/s; brCustom stands for CustomBaudRate.
int32_t BaudRateToBits(TBaudRate BaudRate, int32_t CustomBaudRate);

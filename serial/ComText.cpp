#include "serial/ComText.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 16> BaudRateTexts = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000"};

constexpr std::array<int32_t, 16> BaudRateBits = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000};

char FoldAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
    return true;
}

} // namespace

TBaudRate TextToBaudRate(std::string_view Text)
{
    for (size_t i = 0; i < BaudRateTexts.size(); ++i)
        if (SameTextAscii(Text, BaudRateTexts[i])) return static_cast<TBaudRate>(i);
    return TBaudRate::br9600;
}

std::string BaudRateToText(TBaudRate BaudRate)
{
    return std::string(BaudRateTexts[static_cast<size_t>(BaudRate)]);
}

int32_t BaudRateToBits(TBaudRate BaudRate, int32_t CustomBaudRate)
{
    if (BaudRate == TBaudRate::brCustom) return CustomBaudRate;
    return BaudRateBits[static_cast<size_t>(BaudRate)];
}

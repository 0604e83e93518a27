#include "serial/ComText.h"

#include <array>

#include "runtime/CodePage.h"
#include "runtime/Convert.h"
#include "runtime/Exceptions.h"

namespace {

constexpr std::array<std::string_view, 16> BaudRateTexts = {
    "Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<int32_t, 16> BaudRateBits = {
    0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::array<std::string_view, 3> StopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<std::string_view, 4> DataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<std::string_view, 5> ParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<std::string_view, 4> FlowControlTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<std::string_view, 3> DTRControlTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<std::string_view, 4> RTSControlTexts = {"Disable", "Enable", "Handshake", "Toggle"};

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

template <typename E, size_t N>
E TextToValue(std::string_view Text, const std::array<std::string_view, N>& Forms, E Default)
{
    for (size_t i = 0; i < N; ++i)
        if (SameTextAscii(Text, Forms[i])) return static_cast<E>(i);
    return Default;
}

template <typename E, size_t N>
std::string ValueToText(E Value, const std::array<std::string_view, N>& Forms)
{
    return std::string(Forms[static_cast<size_t>(Value)]);
}

// The first character of a UTF-8 text as one UTF-16 code unit.
char16_t FirstCodeUnit(std::string_view Text)
{
    const auto b = [&](size_t i) { return static_cast<uint8_t>(Text[i]); };
    const uint8_t lead = b(0);
    if (lead < 0x80 || Text.size() < 2) return lead;
    if (lead < 0xE0) return static_cast<char16_t>((lead & 0x1F) << 6 | (b(1) & 0x3F));
    if (lead < 0xF0 && Text.size() >= 3)
        return static_cast<char16_t>((lead & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F));
    if (Text.size() >= 4) {
        // Outside the basic plane: the high surrogate comes first.
        const char32_t cp = (lead & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
        return static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    }
    return lead;
}

} // namespace

TBaudRate TextToBaudRate(std::string_view Text) { return TextToValue(Text, BaudRateTexts, TBaudRate::br9600); }
std::string BaudRateToText(TBaudRate Value) { return ValueToText(Value, BaudRateTexts); }
TStopBits TextToStopBits(std::string_view Text) { return TextToValue(Text, StopBitsTexts, TStopBits::sbOneStopBit); }
std::string StopBitsToText(TStopBits Value) { return ValueToText(Value, StopBitsTexts); }
TDataBits TextToDataBits(std::string_view Text) { return TextToValue(Text, DataBitsTexts, TDataBits::dbEight); }
std::string DataBitsToText(TDataBits Value) { return ValueToText(Value, DataBitsTexts); }
TParityBits TextToParity(std::string_view Text) { return TextToValue(Text, ParityTexts, TParityBits::prNone); }
std::string ParityToText(TParityBits Value) { return ValueToText(Value, ParityTexts); }
TFlowControl TextToFlowControl(std::string_view Text)
{
    return TextToValue(Text, FlowControlTexts, TFlowControl::fcCustom);
}
std::string FlowControlToText(TFlowControl Value) { return ValueToText(Value, FlowControlTexts); }
TDTRFlowControl TextToDTRControl(std::string_view Text)
{
    return TextToValue(Text, DTRControlTexts, TDTRFlowControl::dtrDisable);
}
std::string DTRControlToText(TDTRFlowControl Value) { return ValueToText(Value, DTRControlTexts); }
TRTSFlowControl TextToRTSControl(std::string_view Text)
{
    return TextToValue(Text, RTSControlTexts, TRTSFlowControl::rtsDisable);
}
std::string RTSControlToText(TRTSFlowControl Value) { return ValueToText(Value, RTSControlTexts); }

bool TextToYesNo(std::string_view Text) { return SameTextAscii(Text, "YES"); }
std::string YesNoToText(bool Value) { return Value ? "Yes" : "No"; }

std::string CharSettingToText(char16_t Value)
{
    if (Value >= 33 && Value <= 127) return std::string(1, static_cast<char>(Value));
    return "#" + IntToStr(Value);
}

char16_t TextToCharSetting(std::string_view Text)
{
    if (Text.empty()) return 0;
    if (Text.size() >= 2 && Text[0] == '#') {
        try {
            return static_cast<char16_t>(static_cast<uint32_t>(StrToInt(Text.substr(1))) & 0xFFu);
        } catch (const EConvertError&) {
            return 0;
        }
    }
    return FirstCodeUnit(Text);
}

int32_t BaudRateToBits(TBaudRate BaudRate, int32_t CustomBaudRate)
{
    if (BaudRate == TBaudRate::brCustom) return CustomBaudRate;
    return BaudRateBits[static_cast<size_t>(BaudRate)];
}

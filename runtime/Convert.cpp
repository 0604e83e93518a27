#include "runtime/Convert.h"

#include <cstdint>

#include "runtime/Exceptions.h"

namespace {

// Longer texts are quoted by their first characters and "...": a message
// box cannot show a megabyte, nor should the operator scroll through one.
constexpr size_t MaxQuotedCharacters = 100;

std::string ShortenedForMessage(std::string_view Text)
{
    size_t characters = 0;
    for (size_t i = 0; i < Text.size(); ++i) {
        const bool startsCharacter = (static_cast<uint8_t>(Text[i]) & 0xC0) != 0x80;
        if (startsCharacter && ++characters > MaxQuotedCharacters)
            return std::string(Text.substr(0, i)) + "...";
    }
    return std::string(Text);
}

[[noreturn]] void RaiseNotAnInteger(std::string_view Text)
{
    throw EConvertError("'" + ShortenedForMessage(Text) + "' is not a valid integer value");
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

int32_t StrToInt(std::string_view Text)
{
    size_t i = 0;
    while (i < Text.size() && Text[i] == ' ') ++i;

    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }

    bool hex = false;
    if (i < Text.size() && (Text[i] == '$' || Text[i] == 'x' || Text[i] == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < Text.size() && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == Text.size()) RaiseNotAnInteger(Text);

    if (hex) {
        uint32_t pattern = 0;
        int significant = 0;
        for (; i < Text.size(); ++i) {
            const int digit = HexDigitValue(Text[i]);
            if (digit < 0) RaiseNotAnInteger(Text);
            if (significant > 0 || digit != 0) ++significant;
            if (significant > 8) RaiseNotAnInteger(Text);
            pattern = (pattern << 4) | static_cast<uint32_t>(digit);
        }
        // The pattern is taken as is, then negated modulo 2^32.
        return static_cast<int32_t>(negative ? 0u - pattern : pattern);
    }

    // Accumulate the magnitude in 64 bits; 11 digits already exceed the range.
    int64_t magnitude = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c < '0' || c > '9') RaiseNotAnInteger(Text);
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 2147483648LL) RaiseNotAnInteger(Text);
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) RaiseNotAnInteger(Text);
    return static_cast<int32_t>(value);
}

std::string IntToStr(int64_t Value)
{
    return std::to_string(Value);
}

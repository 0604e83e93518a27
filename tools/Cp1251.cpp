#include "tools/Cp1251.h"

#include <array>
#include <optional>

namespace SimDevice {

namespace {

// Bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order. 0x98 has no
// character and keeps its own code point.
constexpr std::array<char16_t, 64> High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

constexpr uint8_t Unknown = '?';

char32_t ToCodePoint(uint8_t Byte)
{
    if (Byte < 0x80) return Byte;
    if (Byte >= 0xC0) return 0x0410 + (Byte - 0xC0);
    return High[Byte - 0x80];
}

uint8_t FromCodePoint(char32_t CodePoint)
{
    if (CodePoint == 0) return Unknown;
    if (CodePoint < 0x80) return static_cast<uint8_t>(CodePoint);
    if (CodePoint >= 0x0410 && CodePoint <= 0x044F) return static_cast<uint8_t>(0xC0 + (CodePoint - 0x0410));
    for (size_t i = 0; i < High.size(); ++i)
        if (High[i] == CodePoint) return static_cast<uint8_t>(0x80 + i);
    return Unknown;
}

// Decodes one UTF-8 sequence at Pos and advances Pos past it; empty for a
// malformed sequence, after which Pos has moved by one byte.
std::optional<char32_t> NextCodePoint(std::string_view Text, size_t& Pos)
{
    const auto lead = static_cast<uint8_t>(Text[Pos++]);
    if (lead < 0x80) return lead;
    const size_t extra = lead >= 0xC2 && lead < 0xE0   ? 1
                         : lead >= 0xE0 && lead < 0xF0 ? 2
                         : lead >= 0xF0 && lead < 0xF5 ? 3
                                                       : 0;
    if (extra == 0 || Pos + extra > Text.size()) return std::nullopt;
    char32_t cp = lead & (0x3F >> extra);
    for (size_t i = 0; i < extra; ++i) {
        const auto next = static_cast<uint8_t>(Text[Pos + i]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        cp = cp << 6 | (next & 0x3F);
    }
    Pos += extra;
    constexpr std::array<char32_t, 4> Smallest = {0, 0x80, 0x800, 0x10000};
    if (cp < Smallest[extra] || cp > 0x10FFFF) return std::nullopt;
    return cp;
}

template <typename Encode>
std::vector<uint8_t> Encode8(std::string_view Text, Encode ByteOf)
{
    std::vector<uint8_t> out;
    out.reserve(Text.size());
    for (size_t pos = 0; pos < Text.size();) {
        const auto cp = NextCodePoint(Text, pos);
        out.push_back(cp ? ByteOf(*cp) : Unknown);
    }
    return out;
}

void AppendUtf8(std::string& Out, char32_t CodePoint)
{
    if (CodePoint < 0x80) {
        Out += static_cast<char>(CodePoint);
    } else if (CodePoint < 0x800) {
        Out += static_cast<char>(0xC0 | (CodePoint >> 6));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else {
        Out += static_cast<char>(0xE0 | (CodePoint >> 12));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    }
}

} // namespace

std::vector<uint8_t> Utf8ToCp1251(std::string_view Text)
{
    return Encode8(Text, FromCodePoint);
}

std::string Cp1251ToUtf8(std::span<const uint8_t> Bytes)
{
    std::string out;
    out.reserve(Bytes.size() * 2);
    for (uint8_t b : Bytes) AppendUtf8(out, ToCodePoint(b));
    return out;
}

std::vector<uint8_t> Utf8ToLatin1(std::string_view Text)
{
    return Encode8(Text, [](char32_t cp) { return cp != 0 && cp <= 0xFF ? static_cast<uint8_t>(cp) : Unknown; });
}

} // namespace SimDevice

#include "runtime/CodePage.h"

#include <array>
#include <optional>

namespace {

// Windows-1251, bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
// 0x98 has no character; it keeps its own code point, as the system's
// conversion does.
constexpr std::array<char16_t, 64> Cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char32_t Cp1251ToCodePoint(uint8_t Byte)
{
    if (Byte < 0x80) return Byte;
    if (Byte >= 0xC0) return 0x0410 + (Byte - 0xC0);
    return Cp1251High[Byte - 0x80];
}

} // namespace

void AppendUtf8(std::string& Out, char32_t CodePoint)
{
    if (CodePoint < 0x80) {
        Out += static_cast<char>(CodePoint);
    } else if (CodePoint < 0x800) {
        Out += static_cast<char>(0xC0 | (CodePoint >> 6));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else if (CodePoint < 0x10000) {
        Out += static_cast<char>(0xE0 | (CodePoint >> 12));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (CodePoint >> 18));
        Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
    }
}

std::string Latin1ToUtf8(std::span<const uint8_t> Bytes)
{
    std::string out;
    out.reserve(Bytes.size() * 2);
    for (uint8_t b : Bytes) AppendUtf8(out, b);
    return out;
}

std::string Cp1251ToUtf8(std::span<const uint8_t> Bytes)
{
    std::string out;
    out.reserve(Bytes.size() * 2);
    for (uint8_t b : Bytes) AppendUtf8(out, Cp1251ToCodePoint(b));
    return out;
}

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

// Length of the UTF-8 sequence a lead byte starts, 0 for no valid lead.
size_t SequenceLength(uint8_t Lead)
{
    if (Lead < 0x80) return 1;
    if (Lead >= 0xC2 && Lead <= 0xDF) return 2;
    if (Lead >= 0xE0 && Lead <= 0xEF) return 3;
    if (Lead >= 0xF0 && Lead <= 0xF4) return 4;
    return 0;
}

// The code point of a whole sequence, or nothing when it is malformed,
// overlong, a surrogate or beyond U+10FFFF. A well-formed EF BF BD is the
// character U+FFFD itself, not an error.
std::optional<char32_t> DecodeSequence(std::string_view Bytes)
{
    const auto lead = static_cast<uint8_t>(Bytes[0]);
    if (Bytes.size() == 1) return lead;
    char32_t cp = lead & (0x7F >> Bytes.size());
    for (char c : Bytes.substr(1)) {
        const auto b = static_cast<uint8_t>(c);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < Least[Bytes.size()] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return cp;
}

} // namespace

std::u32string DecodeUtf8(std::string_view Text)
{
    std::u32string out;
    out.reserve(Text.size());
    size_t i = 0;
    while (i < Text.size()) {
        const size_t length = SequenceLength(static_cast<uint8_t>(Text[i]));
        const std::optional<char32_t> cp = length == 0 || i + length > Text.size()
                                               ? std::nullopt
                                               : DecodeSequence(Text.substr(i, length));
        // A byte that starts no character is replaced on its own; the next
        // byte may start one.
        out += cp.value_or(ReplacementCharacter);
        i += cp ? length : 1;
    }
    return out;
}

std::vector<uint8_t> Utf8ToCp1251(std::string_view Text)
{
    std::vector<uint8_t> out;
    out.reserve(Text.size());
    for (const char32_t cp : DecodeUtf8(Text)) {
        if (cp < 0x80) {
            out.push_back(static_cast<uint8_t>(cp));
            continue;
        }
        uint8_t byte = '?';
        for (int b = 0x80; b <= 0xFF; ++b)
            if (Cp1251ToCodePoint(static_cast<uint8_t>(b)) == cp) {
                byte = static_cast<uint8_t>(b);
                break;
            }
        out.push_back(byte);
    }
    return out;
}

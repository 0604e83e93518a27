#include "tools/Cp1251.h"

#include <algorithm>

#include "runtime/CodePage.h"

namespace SimDevice {

namespace {

constexpr uint8_t Unknown = '?';

} // namespace

std::vector<uint8_t> Utf8ToCp1251(std::string_view Text)
{
    std::vector<uint8_t> bytes = ::Utf8ToCp1251(Text);
    std::replace(bytes.begin(), bytes.end(), uint8_t{0}, Unknown);
    return bytes;
}

std::string Cp1251ToUtf8(std::span<const uint8_t> Bytes)
{
    return ::Cp1251ToUtf8(Bytes);
}

std::vector<uint8_t> Utf8ToLatin1(std::string_view Text)
{
    std::vector<uint8_t> out;
    out.reserve(Text.size());
    for (const char32_t cp : DecodeUtf8(Text))
        out.push_back(cp != 0 && cp <= 0xFF ? static_cast<uint8_t>(cp) : Unknown);
    return out;
}

} // namespace SimDevice

#pragma once
// The device keeps its log in Windows-1251; records files and dumps are UTF-8.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace SimDevice {

// A character Windows-1251 lacks, a malformed UTF-8 sequence and NUL (which
// would end a record on the line) each become '?'.
std::vector<uint8_t> Utf8ToCp1251(std::string_view Text);

std::string Cp1251ToUtf8(std::span<const uint8_t> Bytes);

// Code points up to U+00FF as single bytes, everything else '?'. Used for the
// identification text, which the tool reads byte for code point.
std::vector<uint8_t> Utf8ToLatin1(std::string_view Text);

} // namespace SimDevice

#pragma once
// Single-byte texts from the device, turned into the UTF-8 the program uses.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Each byte becomes the character of the same code point (U+0000..U+00FF).
std::string Latin1ToUtf8(std::span<const uint8_t> Bytes);

// Each byte is a Windows-1251 character, the code page the device writes its
// log in.
std::string Cp1251ToUtf8(std::span<const uint8_t> Bytes);

void AppendUtf8(std::string& Out, char32_t CodePoint);

// UTF-8 to code points. Each byte that starts no valid sequence gives one
// U+FFFD; a well-formed U+FFFD (EF BF BD) is one character like any other.
std::u32string DecodeUtf8(std::string_view Text);

// Text to Windows-1251 bytes; a character it cannot hold becomes '?'.
std::vector<uint8_t> Utf8ToCp1251(std::string_view Text);

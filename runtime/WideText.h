#pragma once
// The program's UTF-8 texts as the UTF-16 of the Windows calls, and back.
// A byte that starts no valid sequence, and a lone surrogate, become U+FFFD.

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view Text);
std::string WideToUtf8(std::wstring_view Text);

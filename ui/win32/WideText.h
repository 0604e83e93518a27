#pragma once
// The program's UTF-8 texts and the UTF-16 the window functions take.

#include <string>
#include <string_view>

std::wstring Widen(std::string_view Utf8);
std::string Narrow(std::wstring_view Utf16);

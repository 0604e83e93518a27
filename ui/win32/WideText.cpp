#include "ui/win32/WideText.h"

#include <windows.h>

std::wstring Widen(std::string_view Utf8)
{
    if (Utf8.empty()) return {};
    const int size = static_cast<int>(Utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Narrow(std::wstring_view Utf16)
{
    if (Utf16.empty()) return {};
    const int size = static_cast<int>(Utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, Utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Utf16.data(), size, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

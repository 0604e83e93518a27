#include "runtime/WideText.h"

#include "runtime/CodePage.h"

static_assert(sizeof(wchar_t) == 2, "wchar_t is a UTF-16 unit");

std::wstring Utf8ToWide(std::string_view Text)
{
    std::wstring out;
    out.reserve(Text.size());
    for (char32_t cp : DecodeUtf8(Text)) {
        if (cp < 0x10000) {
            out += static_cast<wchar_t>(cp);
        } else {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        }
    }
    return out;
}

std::string WideToUtf8(std::wstring_view Text)
{
    std::string out;
    out.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        char32_t cp = static_cast<char16_t>(Text[i]);
        const bool high = cp >= 0xD800 && cp <= 0xDBFF;
        if (high && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(Text[++i]) - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

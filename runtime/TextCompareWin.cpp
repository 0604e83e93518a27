#include "runtime/TextCompare.h"

#include <windows.h>

#include "runtime/WideText.h"

bool LocaleTextEqual(std::string_view Left, std::string_view Right)
{
    const std::wstring left = Utf8ToWide(Left);
    const std::wstring right = Utf8ToWide(Right);
    return ::CompareStringW(LOCALE_USER_DEFAULT, 0, left.data(), static_cast<int>(left.size()), right.data(),
                            static_cast<int>(right.size())) == CSTR_EQUAL;
}

#pragma once
// Numbers as the operator types them and as the window shows them.

#include <cstdint>
#include <string>
#include <string_view>

// Leading spaces, one optional sign, then decimal digits or hexadecimal
// digits after $, x, X, 0x or 0X; nothing may follow. Decimal values must
// fit a signed 32-bit integer; hexadecimal ones are a 32-bit pattern of at
// most 8 significant digits ($FFFFFFFF is -1). Anything else raises
// EConvertError "'<text>' is not a valid integer value", where a text of more
// than 100 characters is quoted as its first 100 and "...".
int32_t StrToInt(std::string_view Text);

// Plain decimal, with a minus sign when negative.
std::string IntToStr(int64_t Value);

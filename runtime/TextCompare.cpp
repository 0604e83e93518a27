#include "runtime/TextCompare.h"

// Without the Windows comparison, the same text is the same bytes.
bool LocaleTextEqual(std::string_view Left, std::string_view Right)
{
    return Left == Right;
}

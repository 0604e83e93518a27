#include "runtime/Locale.h"

#include <clocale>

#include "runtime/TextFile.h"

void SetLocaleFromEnvironment()
{
    // When one category names a locale that is not installed, the whole
    // call fails and the process stays in the C locale; the text files
    // decide from the character-type category alone.
    std::setlocale(LC_ALL, "");
    SetTextFileLocale("");
}

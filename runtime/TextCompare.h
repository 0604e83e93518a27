#pragma once
// Whether two texts are the same to the user's locale, letter case counting:
// how the settings file's lines are matched with the entries of a list.

#include <string_view>

bool LocaleTextEqual(std::string_view Left, std::string_view Right);

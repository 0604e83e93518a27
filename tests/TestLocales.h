#pragma once
// 8-bit locales for the tests, built on demand: a minimal system has only C
// and C.UTF-8 installed.

#include <string>

// The name of a Russian locale with the character set Charmap ("KOI8-R",
// "CP1251", "ISO-8859-5"), built once per test run into a folder of its own
// that LOCPATH then names (also for the programs the test starts). Throws
// when the locale cannot be built.
std::string EightBitLocale(const std::string& Charmap);

// The folder EightBitLocale builds into, for a program's LOCPATH.
std::string TestLocaleFolder();

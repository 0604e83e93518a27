#pragma once
// The locale a program runs in.

// The first step of every program's main, before its window toolkit starts:
// takes the locale from the environment (LC_ALL, LC_*, LANG) for the whole
// process and fixes the encoding of the text files from its character set
// (SetTextFileLocale). With LANG unset, the C locale or a locale that is not
// installed, Settings.txt and the export file are UTF-8.
void SetLocaleFromEnvironment();

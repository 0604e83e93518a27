#pragma once
// The program's message boxes and the guard every handler runs through.

#include <windows.h>

#include <functional>
#include <string>

// The executable's name without folder, cut at its first full stop, its
// first character kept and the rest in lower case.
std::wstring ApplicationTitle();
// A full stop is added when the last character's code is above that of ".":
// a message ending in a letter or digit gets one, one ending in "." or ")"
// does not.
std::string WithFullStop(const std::string& Message);

// Modal to Owner, one OK button, captioned with the application title.
void ShowErrorBox(HWND Owner, const std::string& Message);   // error icon, full-stop rule
void ShowMessageBox(HWND Owner, const std::string& Message); // no icon

// Runs a handler; an exception that leaves it goes to the application's
// exception display (EAbort silently), never into the window functions.
void RunGuarded(const std::function<void()>& Handler) noexcept;

#pragma once
// The program's message boxes and the guard every handler runs through.

#include <QString>

#include <functional>

class QWidget;

// The executable's name without folder, cut at its first full stop, its
// first character kept and the rest in lower case.
QString ApplicationTitle();
// A full stop is added when the last character's code is above that of ".":
// a message ending in a letter or digit gets one, one ending in "." or ")"
// does not.
QString WithFullStop(const QString& Message);

// Modal to Parent, one OK button, captioned with the application title.
void ShowErrorBox(QWidget* Parent, const QString& Message);   // error icon, full-stop rule
void ShowMessageBox(QWidget* Parent, const QString& Message); // no icon

// Runs a handler; an exception that leaves it goes to the application's
// exception display (EAbort silently), never into the toolkit's code.
void RunGuarded(const std::function<void()>& Handler);

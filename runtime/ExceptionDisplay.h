#pragma once
// The application's standard way of showing an exception that no handler
// took: the window installs a message box; until then it goes to stderr.
// EAbort is never shown.

#include <exception>
#include <functional>

using TExceptionDisplay = std::function<void(const std::exception&)>;

void SetExceptionDisplay(TExceptionDisplay Display);
void ShowException(const std::exception& E);

#include "runtime/ExceptionDisplay.h"

#include <cstdio>
#include <mutex>

#include "runtime/Exceptions.h"

namespace {

std::mutex DisplayLock;
TExceptionDisplay Display;

} // namespace

void SetExceptionDisplay(TExceptionDisplay NewDisplay)
{
    std::lock_guard lock(DisplayLock);
    Display = std::move(NewDisplay);
}

void ShowException(const std::exception& E)
{
    if (dynamic_cast<const EAbort*>(&E)) return;
    TExceptionDisplay display;
    {
        std::lock_guard lock(DisplayLock);
        display = Display;
    }
    if (display)
        display(E);
    else
        std::fprintf(stderr, "%s\n", E.what());
}

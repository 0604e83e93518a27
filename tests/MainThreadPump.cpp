#include "MainThreadPump.h"

#include "runtime/MainThread.h"

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit)
{
    const auto until = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        MainThread::CheckSynchronize(std::chrono::milliseconds(5));
    }
    return true;
}

void PumpFor(std::chrono::milliseconds Time)
{
    const auto until = std::chrono::steady_clock::now() + Time;
    while (std::chrono::steady_clock::now() < until) MainThread::CheckSynchronize(std::chrono::milliseconds(5));
}

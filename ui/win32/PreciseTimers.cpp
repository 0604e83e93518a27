#include "ui/win32/PreciseTimers.h"

#include <optional>
#include <stdexcept>

#include "runtime/Exceptions.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

HANDLE CreatePreciseTimer()
{
    // High resolution since Windows 10 1803; older systems refuse the flag.
    if (HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                              TIMER_ALL_ACCESS))
        return timer;
    return CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

} // namespace

TPreciseTimers::TPreciseTimers(HWND Target, UINT Message, size_t Count)
    : FTarget(Target),
      FMessage(Message),
      FSlots(Count),
      FTimer(CreatePreciseTimer()),
      FChanged(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      FQuit(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!FTimer || !FChanged || !FQuit) throw Exception("Cannot create the window's timers");
    FThread = std::thread([this] { Run(); });
}

TPreciseTimers::~TPreciseTimers()
{
    SetEvent(FQuit.get());
    FThread.join();
}

void TPreciseTimers::Start(size_t Timer, std::chrono::microseconds Interval)
{
    {
        std::lock_guard lock(FLock);
        TSlot& slot = FSlots.at(Timer);
        ++slot.Start;
        slot.Active = true;
        slot.Due = std::chrono::steady_clock::now() + Interval;
    }
    SetEvent(FChanged.get());
}

void TPreciseTimers::Stop(size_t Timer)
{
    std::lock_guard lock(FLock);
    TSlot& slot = FSlots.at(Timer);
    if (!slot.Active) return;
    ++slot.Start;
    slot.Active = false;
}

bool TPreciseTimers::Active(size_t Timer) const
{
    std::lock_guard lock(FLock);
    return FSlots.at(Timer).Active;
}

bool TPreciseTimers::Take(WPARAM WParam, LPARAM LParam)
{
    std::lock_guard lock(FLock);
    if (WParam >= FSlots.size()) return false;
    TSlot& slot = FSlots[WParam];
    if (!slot.Active || slot.Start != static_cast<uint32_t>(LParam)) return false;
    slot.Active = false;
    return true;
}

void TPreciseTimers::Run()
{
    for (;;) {
        std::optional<std::chrono::steady_clock::time_point> next;
        {
            std::lock_guard lock(FLock);
            const auto now = std::chrono::steady_clock::now();
            for (size_t i = 0; i < FSlots.size(); ++i) {
                TSlot& slot = FSlots[i];
                if (!slot.Active || slot.Posted == slot.Start) continue;
                if (slot.Due <= now) {
                    slot.Posted = slot.Start;
                    PostMessageW(FTarget, FMessage, i, static_cast<LPARAM>(slot.Start));
                } else if (!next || slot.Due < *next) {
                    next = slot.Due;
                }
            }
        }
        HANDLE handles[] = {FQuit.get(), FChanged.get(), FTimer.get()};
        DWORD count = 2;
        if (next) {
            // Relative, in 100 ns units, rounded up; a wake that comes early
            // finds nothing due and waits again.
            const auto left = std::chrono::ceil<std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>>(
                *next - std::chrono::steady_clock::now());
            LARGE_INTEGER due;
            due.QuadPart = -std::max<int64_t>(left.count(), 1);
            if (SetWaitableTimer(FTimer.get(), &due, 0, nullptr, nullptr, FALSE)) count = 3;
        }
        // Without the timer (it could not be set) the loop still wakes every
        // millisecond while a countdown runs.
        const DWORD wait = count == 3 || !next ? INFINITE : 1;
        if (WaitForMultipleObjects(count, handles, FALSE, wait) == WAIT_OBJECT_0) return;
    }
}

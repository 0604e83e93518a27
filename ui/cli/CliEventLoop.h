#pragma once
// The command line's main loop on the main thread: the port's hand-overs
// from its event thread, single-shot timers with sub-millisecond deadlines,
// and interrupts (SIGINT/SIGTERM), all waited for at once.
//
// An interrupt only wakes the loop; what it means is decided on the main
// thread, by OnSignal.

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <vector>

#include "ui/cli/CliPlatform.h"

class TCliEventLoop {
public:
    using TClock = CliPlatform::TClock;
    using TTimerId = size_t;

    // Makes the calling thread the main thread and takes over the
    // interrupts; only one loop may exist at a time.
    TCliEventLoop();
    ~TCliEventLoop();
    TCliEventLoop(const TCliEventLoop&) = delete;
    TCliEventLoop& operator=(const TCliEventLoop&) = delete;

    TTimerId AddTimer(std::function<void()> Handler);
    // (Re)starts a single-shot countdown.
    void StartTimer(TTimerId Timer, std::chrono::microseconds Interval);
    void StopTimer(TTimerId Timer);
    bool TimerActive(TTimerId Timer) const;

    // Runs hand-overs, due timers and interrupts until Done() holds; Done is
    // asked before the first wait and after every event.
    void RunUntil(const std::function<bool()>& Done);

    // The signal's number, on the main thread.
    std::function<void(int Signal)> OnSignal;
    // An exception that left a timer's handler, or that the port handed to
    // the application's exception display.
    std::function<void(const std::exception& E)> OnError;

private:
    struct TTimer {
        std::function<void()> Handler;
        std::optional<TClock::time_point> Due;
    };

    std::optional<TClock::time_point> NextDue() const;
    void RunDueTimers();

    CliPlatform::TWaitSet FWaitSet;
    std::vector<TTimer> FTimers;
};

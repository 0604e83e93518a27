#include "ui/cli/CliEventLoop.h"

#include "runtime/ExceptionDisplay.h"
#include "runtime/MainThread.h"

TCliEventLoop::TCliEventLoop()
{
    MainThread::MakeCurrentThreadMain();
    // Called from the port's event thread whenever it has queued a hand-over.
    MainThread::SetWakeHook([this] { FWaitSet.Wake(); });
    SetExceptionDisplay([this](const std::exception& E) {
        if (OnError) OnError(E);
    });
}

TCliEventLoop::~TCliEventLoop()
{
    SetExceptionDisplay(nullptr);
    MainThread::SetWakeHook(nullptr);
}

TCliEventLoop::TTimerId TCliEventLoop::AddTimer(std::function<void()> Handler)
{
    FTimers.push_back({std::move(Handler), std::nullopt});
    return FTimers.size() - 1;
}

void TCliEventLoop::StartTimer(TTimerId Timer, std::chrono::microseconds Interval)
{
    FTimers.at(Timer).Due = TClock::now() + Interval;
}

void TCliEventLoop::StopTimer(TTimerId Timer)
{
    FTimers.at(Timer).Due.reset();
}

bool TCliEventLoop::TimerActive(TTimerId Timer) const
{
    return FTimers.at(Timer).Due.has_value();
}

void TCliEventLoop::RunUntil(const std::function<bool()>& Done)
{
    while (!Done()) {
        FWaitSet.Wait(NextDue());
        // Every hand-over queued before the wait ended runs now.
        MainThread::CheckSynchronize();
        for (int signal : FWaitSet.TakeInterrupts())
            if (OnSignal) OnSignal(signal);
        RunDueTimers();
    }
}

std::optional<TCliEventLoop::TClock::time_point> TCliEventLoop::NextDue() const
{
    std::optional<TClock::time_point> next;
    for (const TTimer& timer : FTimers)
        if (timer.Due && (!next || *timer.Due < *next)) next = timer.Due;
    return next;
}

void TCliEventLoop::RunDueTimers()
{
    const auto now = TClock::now();
    for (size_t i = 0; i < FTimers.size(); ++i) {
        TTimer& timer = FTimers[i];
        if (!timer.Due || *timer.Due > now) continue;
        timer.Due.reset();
        try {
            timer.Handler();
        } catch (const std::exception& e) {
            if (OnError) OnError(e);
        }
    }
}

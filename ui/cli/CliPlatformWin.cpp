#include "ui/cli/CliPlatform.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <windows.h>
#include <timeapi.h>

namespace CliPlatform {

namespace {

// The console's handler runs on a thread of its own; it records the
// interrupt and sets the event the main loop waits for.
std::mutex InterruptLock;
std::vector<int> PendingInterrupts;
std::atomic<HANDLE> InterruptEvent{nullptr};

BOOL WINAPI ConsoleHandler(DWORD Event)
{
    const HANDLE event = InterruptEvent.load();
    if (!event) return FALSE;
    {
        std::lock_guard lock(InterruptLock);
        PendingInterrupts.push_back(Event == CTRL_C_EVENT || Event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
    }
    ::SetEvent(event);
    // Returning ends the process for a console close; give the main loop
    // time to save what came.
    if (Event == CTRL_CLOSE_EVENT || Event == CTRL_LOGOFF_EVENT || Event == CTRL_SHUTDOWN_EVENT) ::Sleep(4000);
    return TRUE;
}

class TEvent {
public:
    TEvent() : FHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
    {
        if (!FHandle) throw std::runtime_error("cannot create an event");
    }
    ~TEvent() { ::CloseHandle(FHandle); }
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

} // namespace

struct TWaitSet::TState {
    TEvent Wake;
    TEvent Interrupt;
};

TWaitSet::TWaitSet() : FState(std::make_unique<TState>())
{
    // Messages and the record texts are UTF-8.
    ::SetConsoleOutputCP(CP_UTF8);
    ::timeBeginPeriod(1); // the answer timers need millisecond waits
    InterruptEvent.store(FState->Interrupt.Get());
    ::SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

TWaitSet::~TWaitSet()
{
    ::SetConsoleCtrlHandler(ConsoleHandler, FALSE);
    InterruptEvent.store(nullptr);
    ::timeEndPeriod(1);
}

void TWaitSet::Wake()
{
    ::SetEvent(FState->Wake.Get());
}

void TWaitSet::Wait(std::optional<TClock::time_point> Deadline)
{
    DWORD timeout = INFINITE;
    if (Deadline) {
        const auto left = std::max(TClock::duration::zero(), *Deadline - TClock::now());
        timeout = static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
    const HANDLE handles[] = {FState->Wake.Get(), FState->Interrupt.Get()};
    ::WaitForMultipleObjects(2, handles, FALSE, timeout);
}

std::vector<int> TWaitSet::TakeInterrupts()
{
    std::lock_guard lock(InterruptLock);
    return std::exchange(PendingInterrupts, {});
}

bool StderrIsTerminal()
{
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (error == INVALID_HANDLE_VALUE || !::GetConsoleMode(error, &mode)) return false;
    // The bar is redrawn with a carriage return and an erase to the line's end.
    ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    return true;
}

} // namespace CliPlatform

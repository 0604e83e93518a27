#pragma once
// Single-shot timers that keep to about a millisecond, where the window
// timer keeps only to the system tick (10 to 16 ms): a thread waits on a
// high-resolution waitable timer and posts a message to the window when one
// is due. The window asks Take() whether the message still stands, since
// the timer may have been stopped or started again meanwhile.

#include <windows.h>

#include <chrono>
#include <memory>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class TPreciseTimers {
public:
    // Posts Message (WParam the timer's number, LParam its start's number)
    // to Target.
    TPreciseTimers(HWND Target, UINT Message, size_t Count);
    ~TPreciseTimers();
    TPreciseTimers(const TPreciseTimers&) = delete;
    TPreciseTimers& operator=(const TPreciseTimers&) = delete;

    // (Re)starts a countdown; a start before it is due replaces it.
    void Start(size_t Timer, std::chrono::microseconds Interval);
    void Stop(size_t Timer);
    bool Active(size_t Timer) const;
    // On Message: true when that timer's countdown is the current one and
    // has run out; the timer is then stopped.
    bool Take(WPARAM WParam, LPARAM LParam);

private:
    struct TSlot {
        bool Active = false;
        uint32_t Start = 0;  // counts every Start and Stop
        uint32_t Posted = 0; // the start whose message went out
        std::chrono::steady_clock::time_point Due;
    };
    struct THandleCloser {
        void operator()(HANDLE Handle) const { CloseHandle(Handle); }
    };
    using THandle = std::unique_ptr<void, THandleCloser>;

    void Run();

    HWND FTarget;
    UINT FMessage;
    mutable std::mutex FLock;
    std::vector<TSlot> FSlots;
    THandle FTimer;
    THandle FChanged;
    THandle FQuit;
    std::thread FThread;
};

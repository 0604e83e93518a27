#pragma once
// Running a call on the main thread from another thread.
//
// A call is queued and the main loop woken through the hook the application
// installs (a queued call into its event loop that runs CheckSynchronize);
// tests pump the queue themselves. Synchronize blocks its caller until the
// call has run and raises again, in the calling thread, whatever the call
// raised. SendStep releases its caller as soon as the main thread has taken
// the step, before running it. A main thread that waits for another thread
// keeps running the queue (WaitUntil), so a call in flight always completes.

#include <chrono>
#include <functional>

namespace MainThread {

// The thread that calls this becomes the main thread (the first thread of
// the process is it until then).
void MakeCurrentThreadMain();
bool IsMainThread();

// Called, from any thread, whenever a call has been queued.
void SetWakeHook(std::function<void()> Hook);

// Runs Call on the main thread and waits for it; on the main thread it runs
// at once.
void Synchronize(const std::function<void()>& Call);

// Hands Step to the main thread and returns once the main thread has taken
// it; the step then runs there, and an exception from it goes to the
// application's exception display.
void SendStep(std::function<void()> Step);

// Main thread: runs every queued call; true when one ran. With a wait, and
// nothing queued, waits up to that long for a call first.
bool CheckSynchronize(std::chrono::milliseconds Wait = std::chrono::milliseconds(0));

// Main thread: runs queued calls until Done() holds. Done is asked again
// whenever NotifyWaiters is called or a call has run.
void WaitUntil(const std::function<bool()>& Done);
void NotifyWaiters();

} // namespace MainThread

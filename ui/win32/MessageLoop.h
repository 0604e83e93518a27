#pragma once
// The main thread's message loop: the hand-over of the serial port's events
// to it, and the keyboard rules of the window.

#include <windows.h>

#include <chrono>
#include <functional>

// While it lives, the calling thread is the main thread, and every call that
// another thread hands over (MainThread::Synchronize) is run by a message
// posted to a hidden window of this thread, so also inside a message box's
// own loop.
class TMessageLoopHandOver {
public:
    TMessageLoopHandOver();
    ~TMessageLoopHandOver();
    TMessageLoopHandOver(const TMessageLoopHandOver&) = delete;
    TMessageLoopHandOver& operator=(const TMessageLoopHandOver&) = delete;

private:
    HWND FWindow = nullptr;
};

// Dispatches one message of the thread's queue: Tab and the arrow keys move
// the focus between Form's controls, while Enter and Esc go to the focused
// control alone and so click no button.
void DispatchFormMessage(HWND Form, MSG& Message);

// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop(HWND Form);

// Dispatches messages until Done() holds or Timeout has passed; true when
// Done() held.
bool PumpMessagesUntil(HWND Form, const std::function<bool()>& Done, std::chrono::milliseconds Timeout);

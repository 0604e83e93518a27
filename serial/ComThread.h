#pragma once
// The event thread of an open port: it waits for line events and hands each
// batch to the port, on the main thread (smThreadSync, smWindowSync) or on
// itself (smNone).

#include <atomic>
#include <exception>
#include <thread>

#include "serial/ComTypes.h"
#include "serial/platform/SerialPlatform.h"

class TCustomComPort;

class TComThread {
public:
    // Sets the port's event mask and the thread's priority before the first
    // wait; raises EThread when the thread cannot be created or given its
    // priority.
    explicit TComThread(TCustomComPort& AComPort);
    // Stops the thread and waits until it has ended. On the main thread the
    // wait keeps running hand-overs, so one in flight completes.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // The events found by the latest completed wait.
    TComEvents Events() const { return FEvents; }
    bool Finished() const { return FFinished.load(); }
    // What ended the thread, when a step or handler raised.
    std::exception_ptr FatalException() const { return FFatalException; }

private:
    void Execute();
    void HandOverEvents();
    void SendEventMessages();
    void SignalStop();

    TCustomComPort& FComPort;
    SerialPlatform::TStopSignal FStopEvent;
    TComEvents FEvents;
    std::exception_ptr FFatalException;
    std::atomic<bool> FFinished{false};
    std::thread FThread;
};

#include "serial/ComThread.h"

#include <cerrno>
#include <future>
#include <system_error>

#include "runtime/Exceptions.h"
#include "runtime/MainThread.h"
#include "runtime/ThreadPriority.h"
#include "serial/ComPort.h"

namespace {

int NiceOf(TThreadPriority Priority)
{
    switch (Priority) {
    case TThreadPriority::tpIdle: return 19;
    case TThreadPriority::tpLowest: return 10;
    case TThreadPriority::tpLower: return 5;
    case TThreadPriority::tpNormal: return 0;
    case TThreadPriority::tpHigher: return -5;
    case TThreadPriority::tpHighest: return -10;
    case TThreadPriority::tpTimeCritical: return -20;
    }
    return 0;
}

// The order in which events go to the main thread one by one.
constexpr TComEvent MessageOrder[] = {TComEvent::evError, TComEvent::evRxChar, TComEvent::evTxEmpty,
                                      TComEvent::evBreak, TComEvent::evRing,   TComEvent::evCTS,
                                      TComEvent::evDSR,   TComEvent::evRxFlag, TComEvent::evRLSD,
                                      TComEvent::evRx80Full};

} // namespace

TComThread::TComThread(TCustomComPort& AComPort) : FComPort(AComPort)
{
    if (!FStopEvent.Valid()) throw EThread("Thread creation error: no stop signal");
    FComPort.Device()->SetCommMask(EventsToMask(FComPort.Events()));

    const TThreadPriority priority = FComPort.EventThreadPriority();
    std::promise<int> prioritySet;
    auto started = prioritySet.get_future();
    try {
        FThread = std::thread([this, priority, &prioritySet] {
            int error = priority == TThreadPriority::tpNormal ? 0 : SetCurrentThreadNice(NiceOf(priority));
            // Raising the priority takes rights an operator seldom has; the
            // thread then runs at the normal one rather than not at all.
            if (error == EPERM || error == EACCES) error = 0;
            prioritySet.set_value(error);
            if (error == 0) Execute();
            FFinished.store(true);
        });
    } catch (const std::system_error& e) {
        throw EThread(std::string("Thread creation error: ") + e.what());
    }
    if (const int error = started.get()) {
        FThread.join();
        throw EThread("Thread Error: cannot set the event thread's priority (" + std::to_string(error) + ")");
    }
}

TComThread::~TComThread()
{
    SignalStop();
    if (MainThread::IsMainThread()) MainThread::WaitUntil([this] { return FFinished.load(); });
    FThread.join();
}

void TComThread::SignalStop()
{
    FStopEvent.Set();
    std::this_thread::yield();
}

void TComThread::Execute()
{
    SerialPlatform::TDevice& device = *FComPort.Device();
    try {
        for (;;) {
            uint32_t mask = 0;
            bool stopped = false;
            // A failed wait (the device went away) ends the loop like the stop.
            if (device.WaitCommEvent(mask, FStopEvent, stopped) != 0 || stopped) break;
            FEvents = MaskToEvents(mask);
            HandOverEvents();
        }
    } catch (...) {
        // Never shown: the port gets no further notification until it is
        // closed and opened again.
        FFatalException = std::current_exception();
    }
    device.SetCommMask(0);
    device.Purge(SerialPlatform::PURGE_TXCLEAR | SerialPlatform::PURGE_RXCLEAR);
    FFinished.store(true);
    MainThread::NotifyWaiters();
}

void TComThread::HandOverEvents()
{
    switch (FComPort.SyncMethod()) {
    case TSyncMethod::smThreadSync:
        MainThread::Synchronize([this] { FComPort.RunPortHandlers(FEvents); });
        break;
    case TSyncMethod::smWindowSync:
        SendEventMessages();
        break;
    case TSyncMethod::smNone:
        FComPort.RunPortHandlers(FEvents);
        break;
    }
}

// One message per event; each is released as soon as the main thread has
// taken it, and the step runs only while the port is still connected.
void TComThread::SendEventMessages()
{
    TCustomComPort* port = &FComPort;
    for (TComEvent event : MessageOrder) {
        if (!FEvents.Contains(event)) continue;
        MainThread::SendStep([port, event] {
            if (port->Connected()) port->RunPortHandlers(TComEvents{event});
        });
    }
}

#pragma once
// A single-shot timer for the exchange controller that keeps microseconds:
// the line's silence after an answer is 1.75 ms above 19200 bit/s, which a
// millisecond timer would stretch to 2 ms for every record.
//
// On Linux a timerfd wakes the event loop through a socket notifier at the
// exact time; elsewhere a precise QTimer rounds up to whole milliseconds.

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

class TPreciseTimer : public QObject {
public:
    explicit TPreciseTimer(QObject* Parent = nullptr);
    ~TPreciseTimer() override;

    // Runs OnTimeout once Interval has passed; restarting drops the earlier start.
    void Start(std::chrono::microseconds Interval);
    void Stop();
    bool IsActive() const { return FActive; }

    std::function<void()> OnTimeout;

private:
    void Expired();

    bool FActive = false;
    int FTimerFd = -1;
    QSocketNotifier* FNotifier = nullptr;
    QTimer* FFallback = nullptr;
};

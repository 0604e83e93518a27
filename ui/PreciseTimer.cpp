#include "ui/PreciseTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#ifdef __linux__
#include <sys/timerfd.h>
#include <unistd.h>
#endif

TPreciseTimer::TPreciseTimer(QObject* Parent) : QObject(Parent)
{
#ifdef __linux__
    FTimerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (FTimerFd >= 0) {
        FNotifier = new QSocketNotifier(FTimerFd, QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] {
            uint64_t expirations = 0;
            if (::read(FTimerFd, &expirations, sizeof expirations) == sizeof expirations) Expired();
        });
        return;
    }
#endif
    FFallback = new QTimer(this);
    FFallback->setSingleShot(true);
    FFallback->setTimerType(Qt::PreciseTimer);
    connect(FFallback, &QTimer::timeout, this, [this] { Expired(); });
}

TPreciseTimer::~TPreciseTimer()
{
#ifdef __linux__
    delete FNotifier;
    if (FTimerFd >= 0) ::close(FTimerFd);
#endif
}

void TPreciseTimer::Start(std::chrono::microseconds Interval)
{
    FActive = true;
#ifdef __linux__
    if (FTimerFd >= 0) {
        // An interval of zero would disarm the timer: one nanosecond is due at once.
        const auto ns = std::max<int64_t>(std::chrono::nanoseconds(Interval).count(), 1);
        itimerspec due{};
        due.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        due.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        ::timerfd_settime(FTimerFd, 0, &due, nullptr);
        return;
    }
#endif
    FFallback->start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(Interval).count()));
}

void TPreciseTimer::Stop()
{
    FActive = false;
#ifdef __linux__
    if (FTimerFd >= 0) {
        const itimerspec disarmed{};
        ::timerfd_settime(FTimerFd, 0, &disarmed, nullptr);
        // An expiry already counted but not yet read must not fire later.
        uint64_t expirations = 0;
        [[maybe_unused]] const auto n = ::read(FTimerFd, &expirations, sizeof expirations);
        return;
    }
#endif
    FFallback->stop();
}

void TPreciseTimer::Expired()
{
    if (!FActive) return;
    FActive = false;
    if (OnTimeout) OnTimeout();
}

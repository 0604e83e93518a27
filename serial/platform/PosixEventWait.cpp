// The wait for line events on Linux: one epoll set over the line, the
// modem-line helper and the stop signal.

#include "serial/platform/PosixDevice.h"

#include <cerrno>

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace SerialPlatform {

namespace {

uint64_t ReadCounter(int Fd)
{
    uint64_t value = 0;
    if (::read(Fd, &value, sizeof value) != sizeof value) return 0;
    return value;
}

void Signal(int Fd)
{
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(Fd, &one, sizeof one);
}

constexpr uint32_t ModemLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr int WatchedLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;

uint32_t LineChangeEvents(int Before, int Now)
{
    uint32_t events = 0;
    const int changed = Now ^ Before;
    if (changed & TIOCM_CTS) events |= EV_CTS;
    if (changed & TIOCM_DSR) events |= EV_DSR;
    if (changed & TIOCM_CD) events |= EV_RLSD;
    if ((Now & TIOCM_RNG) && !(Before & TIOCM_RNG)) events |= EV_RING;
    return events;
}

} // namespace

int TPosixDevice::SetCommMask(uint32_t Mask)
{
    const bool watchedOutput = FMask.exchange(Mask) & EV_TXEMPTY;
    if (((Mask & EV_TXEMPTY) != 0) != watchedOutput && FOutputFd.Valid()) {
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLET;
        ev.data.fd = FOutputFd.Get();
        if (FCalls.EpollCtl(FEpoll.Get(), watchedOutput ? EPOLL_CTL_DEL : EPOLL_CTL_ADD, FOutputFd.Get(), &ev) != 0)
            return errno;
    }
    if (Mask & ModemLineEvents)
        StartLineWatcher();
    else
        StopLineWatcher();
    if (Mask == 0) Signal(FMaskChanged.Get());
    return 0;
}

// An arrival report that only repeats the wake-up of applied settings.
bool TPosixDevice::OnlySettingsWakeup()
{
    std::lock_guard lock(FSettingsLock);
    if (FSettingsWakeups == 0) return false;
    int waiting = 0;
    if (FCalls.Ioctl(FFd.Get(), TIOCINQ, &waiting) == 0 && waiting <= FUnreadAtSettings) {
        --FSettingsWakeups;
        return true;
    }
    // New bytes came: any wake-up still due merged into this report.
    FSettingsWakeups = 0;
    FUnreadAtSettings = -1;
    return false;
}

// Line errors that came with the data just reported: the driver counts
// them before it hands the bytes on, so the same wait sees both, and the
// error is dispatched ahead of the data.
uint32_t TPosixDevice::NewLineErrors()
{
    if (!FHaveCounters) return 0;
    serial_icounter_struct now{};
    if (FCalls.Ioctl(FFd.Get(), TIOCGICOUNT, &now) != 0) return 0;
    std::lock_guard lock(FCountersLock);
    uint32_t events = 0;
    const serial_icounter_struct& c = FEventCounters;
    if (now.brk != c.brk) events |= EV_BREAK;
    if (now.frame != c.frame || now.parity != c.parity || now.overrun != c.overrun ||
        now.buf_overrun != c.buf_overrun)
        events |= EV_ERR;
    FEventCounters = now;
    return events;
}

int TPosixDevice::WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped)
{
    Mask = 0;
    Stopped = false;
    if (FRegisteredStop != Stop.Handle()) {
        if (FRegisteredStop >= 0) FCalls.EpollCtl(FEpoll.Get(), EPOLL_CTL_DEL, FRegisteredStop, nullptr);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = Stop.Handle();
        if (FCalls.EpollCtl(FEpoll.Get(), EPOLL_CTL_ADD, Stop.Handle(), &ev) != 0 && errno != EEXIST) return errno;
        FRegisteredStop = Stop.Handle();
    }
    for (;;) {
        epoll_event events[4];
        const int n = FCalls.EpollWait(FEpoll.Get(), events, 4, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        // The stop wins over whatever else the wait found.
        if (Stop.IsSet()) {
            Stopped = true;
            return 0;
        }
        uint32_t found = 0;
        bool maskCleared = false;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            const uint32_t what = events[i].events;
            if (fd == FFd.Get()) {
                // The device is gone (a closed pseudo-terminal master, a
                // removed adapter): the wait fails.
                if (what & (EPOLLHUP | EPOLLERR)) return EIO;
                if ((what & EPOLLIN) && !OnlySettingsWakeup()) {
                    found |= EV_RXCHAR | NewLineErrors();
                    int waiting = 0;
                    const int32_t queue = FInQueue.load();
                    if (queue > 0 && FCalls.Ioctl(FFd.Get(), TIOCINQ, &waiting) == 0 &&
                        int64_t{waiting} * 10 >= int64_t{queue} * 8)
                        found |= EV_RX80FULL;
                }
            } else if (fd == FOutputFd.Get()) {
                int unsent = 0;
                // Only after a write: the output was empty all along otherwise.
                if ((what & EPOLLOUT) && (FCalls.Ioctl(FFd.Get(), TIOCOUTQ, &unsent) != 0 || unsent == 0) &&
                    FWrote.exchange(false))
                    found |= EV_TXEMPTY;
            } else if (fd == FMaskChanged.Get()) {
                ReadCounter(fd);
                maskCleared = FMask.load() == 0;
            } else if (fd == FLineChanged.Get()) {
                ReadCounter(fd);
                found |= FLineEvents.exchange(0);
            }
        }
        found &= FMask.load();
        if (found != 0 || maskCleared) {
            Mask = found;
            return 0;
        }
    }
}

void TPosixDevice::StartLineWatcher()
{
    int lines = 0;
    if (FLineWatcher.joinable() || FCalls.Ioctl(FFd.Get(), TIOCMGET, &lines) != 0) return;
    FLineWatcherStop = TFd(FCalls, ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!FLineWatcherStop.Valid()) return;
    FLineWatcherStopping = false;
    FLineWatcherDone = false;
    // The state the helper compares with is taken now: a change right after
    // the mask was set is not lost to a helper that has yet to run.
    TLineState state;
    state.Lines = lines;
    state.Counted = FCalls.Ioctl(FFd.Get(), TIOCGICOUNT, &state.Counters) == 0;
    FLineWatcher = std::thread([this, state] {
        WatchLines(state);
        FLineWatcherDone = true;
    });
}

void TPosixDevice::StopLineWatcher()
{
    if (!FLineWatcher.joinable()) return;
    FLineWatcherStopping = true;
    Signal(FLineWatcherStop.Get());
    // A wait for the modem lines ends only when a line changes or a signal
    // interrupts it; one sent just before the helper blocks is lost, so it
    // is sent again until the helper has left.
    while (!FLineWatcherDone) {
        FCalls.Interrupt(FLineWatcher);
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 2);
    }
    FLineWatcher.join();
    FLineWatcherStop.Reset();
}

void TPosixDevice::ReportLineEvents(uint32_t Events)
{
    if (Events == 0) return;
    FLineEvents.fetch_or(Events);
    Signal(FLineChanged.Get());
}

// The helper: the driver's wait for modem-line changes, whose counters
// report every change, even a pulse long over by the time it is looked at.
void TPosixDevice::WatchLines(TLineState State)
{
    const int fd = FFd.Get();
    int lines = State.Lines;
    serial_icounter_struct before = State.Counters;
    while (!FLineWatcherStopping) {
        // Changes since the last look come first: the driver's wait only
        // reports those after it has begun.
        serial_icounter_struct c{};
        if (State.Counted && FCalls.Ioctl(fd, TIOCGICOUNT, &c) == 0) {
            uint32_t events = 0;
            if (c.cts != before.cts) events |= EV_CTS;
            if (c.dsr != before.dsr) events |= EV_DSR;
            if (c.dcd != before.dcd) events |= EV_RLSD;
            if (c.rng != before.rng) events |= EV_RING;
            before = c;
            if (events != 0) {
                ReportLineEvents(events);
                continue;
            }
        }
        if (FCalls.Ioctl(fd, TIOCMIWAIT, reinterpret_cast<void*>(static_cast<uintptr_t>(WatchedLines))) != 0) {
            if (errno == EINTR) continue;
            // No such wait in this driver: look at the lines instead.
            if (NotSupported(errno)) PollLines(lines);
            return;
        }
        if (State.Counted) continue;
        int now = 0;
        if (FCalls.Ioctl(fd, TIOCMGET, &now) != 0) return;
        ReportLineEvents(LineChangeEvents(lines, now));
        lines = now;
    }
}

// Where the driver cannot wait for the lines, they are looked at twenty
// times a second.
void TPosixDevice::PollLines(int Lines)
{
    while (!FLineWatcherStopping) {
        pollfd stop{FLineWatcherStop.Get(), POLLIN, 0};
        if (::poll(&stop, 1, 50) != 0) return;
        int now = 0;
        if (FCalls.Ioctl(FFd.Get(), TIOCMGET, &now) != 0) return;
        ReportLineEvents(LineChangeEvents(Lines, now));
        Lines = now;
    }
}

TTransfer::~TTransfer()
{
    if (Signal >= 0) ::close(Signal);
}

TStopSignal::TStopSignal() : FHandle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TStopSignal::~TStopSignal()
{
    if (FHandle >= 0) ::close(FHandle);
}

void TStopSignal::Set()
{
    Signal(FHandle);
}

bool TStopSignal::IsSet() const
{
    pollfd p{FHandle, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

} // namespace SerialPlatform

// The serial line services on Linux: termios, ioctl, poll, epoll, eventfd.

#include "serial/platform/PosixCustomSpeed.h"
#include "serial/platform/PosixTermios.h"
#include "serial/platform/SerialPlatform.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace SerialPlatform {

namespace {

class TFd {
public:
    TFd() = default;
    explicit TFd(int Fd) : FFd(Fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
    TFd& operator=(TFd&& Other) noexcept
    {
        if (this != &Other) {
            Reset();
            FFd = std::exchange(Other.FFd, -1);
        }
        return *this;
    }
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset()
    {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

private:
    int FFd = -1;
};

// "This kind of port does not have it": a query the driver cannot answer.
bool NotSupported(int Error)
{
    // 515 is the kernel's "no such ioctl" that some drivers let through.
    return Error == ENOTTY || Error == EINVAL || Error == 515 || Error == EOPNOTSUPP;
}

int MapOpenError(int Error)
{
    switch (Error) {
    case ENOENT: case ENODEV: case ENXIO: case ENOTTY: case EIO: case EISDIR: case ENOTDIR:
        return ErrorNoSuchPort;
    case EACCES: case EPERM: case EBUSY: case EWOULDBLOCK:
        return ErrorAccessDenied;
    default:
        return Error;
    }
}

// Time-outs beyond about 24 days wait as long as that; the products of
// 32-bit settings and byte counts cannot overflow the clock then.
uint64_t ClampMs(uint64_t Ms)
{
    return std::min<uint64_t>(Ms, 0x7FFFFFFF);
}

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

// Error flags from the driver's counters, where it keeps them.
uint32_t CounterFlags(const serial_icounter_struct& Before, const serial_icounter_struct& Now)
{
    uint32_t flags = 0;
    if (Now.frame != Before.frame) flags |= CE_FRAME;
    if (Now.parity != Before.parity) flags |= CE_RXPARITY;
    if (Now.overrun != Before.overrun) flags |= CE_OVERRUN;
    if (Now.brk != Before.brk) flags |= CE_BREAK;
    if (Now.buf_overrun != Before.buf_overrun) flags |= CE_RXOVER;
    return flags;
}

uint32_t ModemFlags(int Lines)
{
    uint32_t flags = 0;
    if (Lines & TIOCM_CTS) flags |= MS_CTS_ON;
    if (Lines & TIOCM_DSR) flags |= MS_DSR_ON;
    if (Lines & TIOCM_RNG) flags |= MS_RING_ON;
    if (Lines & TIOCM_CD) flags |= MS_RLSD_ON;
    return flags;
}

constexpr uint32_t LineWatchEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;

class TPosixDevice final : public TDevice {
public:
    explicit TPosixDevice(TFd Fd);
    ~TPosixDevice() override;

    uintptr_t Handle() const override { return static_cast<uintptr_t>(FFd.Get()); }
    void SetPseudoTerminal(bool Value) { FPseudoTerminal = Value; }
    int SetupComm(int32_t InQueue, int32_t OutQueue) override;
    int SetCommState(const TLineSettings& Settings) override;
    int SetCommTimeouts(const TCommTimeouts& Timeouts) override;
    int StartWrite(TTransfer& Transfer, std::span<const uint8_t> Data) override;
    int StartRead(TTransfer& Transfer, std::span<uint8_t> Buffer) override;
    int FinishTransfer(TTransfer& Transfer, uint32_t& Moved) override;
    int Purge(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, TComStat& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped) override;

private:
    void BeginTransfer(TTransfer& Transfer, bool IsWrite);
    int ReadMore(TTransfer& Transfer);
    bool HungUp() const;
    int WriteMore(TTransfer& Transfer);
    size_t DropNuls(std::span<uint8_t> Bytes) const;
    size_t TakeKept(std::span<uint8_t> Into);
    void KeepWaitingInput();
    int WaitForTransfer(TTransfer& Transfer, int TimeoutMs);
    void StartLineWatcher();
    void StopLineWatcher();
    void WatchLines();

    TFd FFd;
    // The same line once more, watched for output only: a wake-up on the
    // output side must not report unread input again.
    TFd FOutputFd;
    TFd FEpoll;
    TFd FMaskChanged;
    TFd FLineChanged;
    int FRegisteredStop = -1;
    std::atomic<uint32_t> FMask{0};
    TCommTimeouts FTimeouts{};
    std::atomic<bool> FDiscardNull{false};
    // With DiscardNull, what waits is counted as a read will deliver it: the
    // query takes the input off the line with its NULs dropped, and reads
    // deliver these bytes first.
    std::mutex FKeptLock;
    std::vector<uint8_t> FKept;
    std::atomic<int32_t> FInQueue{0};
    // Set when settings were applied while bytes sat unread: the kernel then
    // wakes the line's readers once more, which is no arrival.
    std::atomic<int> FUnreadAtSettings{-1};
    // Something was written since the output was last reported empty.
    std::atomic<bool> FWrote{false};
    bool FPseudoTerminal = false;
    serial_icounter_struct FCounters{};
    bool FHaveCounters = false;

    // Transfers waiting in FinishTransfer, woken by an abort.
    std::mutex FWaitingLock;
    std::vector<TTransfer*> FWaiting;
    std::atomic<uint64_t> FAbortGeneration{0};

    // Where the driver has modem lines and counters, a helper looks at them
    // and reports changes to the event wait.
    std::thread FLineWatcher;
    TFd FLineWatcherStop;
    std::atomic<uint32_t> FLineEvents{0};
};

TPosixDevice::TPosixDevice(TFd Fd)
    : FFd(std::move(Fd)),
      FOutputFd(::fcntl(FFd.Get(), F_DUPFD_CLOEXEC, 0)),
      FEpoll(::epoll_create1(EPOLL_CLOEXEC)),
      FMaskChanged(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      FLineChanged(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    for (int fd : {FMaskChanged.Get(), FLineChanged.Get()}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(FEpoll.Get(), EPOLL_CTL_ADD, fd, &ev);
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = FFd.Get();
    ::epoll_ctl(FEpoll.Get(), EPOLL_CTL_ADD, FFd.Get(), &ev);
    FHaveCounters = ::ioctl(FFd.Get(), TIOCGICOUNT, &FCounters) == 0;
}

TPosixDevice::~TPosixDevice()
{
    StopLineWatcher();
    // A stuck output queue could hold close() for half a minute.
    ::tcflush(FFd.Get(), TCOFLUSH);
    // A pseudo-terminal keeps the exclusive flag while its other side stays
    // open, which would refuse our own next open.
    ::ioctl(FFd.Get(), TIOCNXCL);
    ::flock(FFd.Get(), LOCK_UN);
}

int TPosixDevice::SetupComm(int32_t InQueue, int32_t /*OutQueue*/)
{
    // The kernel keeps queues of its own size; the input size still sets
    // where the queue counts as 80 % full.
    FInQueue = InQueue;
    return 0;
}

int TPosixDevice::SetCommState(const TLineSettings& s)
{
    termios t{};
    if (::tcgetattr(FFd.Get(), &t) != 0) return errno;
    if (const int error = LineSettingsToTermios(s, t)) return error;
    const speed_t standard = StandardSpeed(s.BaudRate);
    // A custom speed goes in after the record; until then the line holds a
    // standard one, since the record cannot carry any other.
    ::cfsetspeed(&t, standard != B0 ? standard : B38400);
    int waiting = 0;
    if (::ioctl(FFd.Get(), TIOCINQ, &waiting) == 0 && waiting > 0) FUnreadAtSettings.store(waiting);
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told,
    // and the C library reports that as a refusal; it has no line to frame.
    if (::tcsetattr(FFd.Get(), TCSANOW, &t) != 0 && !(FPseudoTerminal && errno == EINVAL)) return errno;
    if (standard == B0) {
        if (const int error = SetCustomSpeed(FFd.Get(), s.BaudRate)) return error;
    }

    // DTR and RTS held as asked; a port without modem lines has nothing to hold.
    const int dtr = TIOCM_DTR;
    const int rts = TIOCM_RTS;
    if (::ioctl(FFd.Get(), s.fDtrControl == 0 ? TIOCMBIC : TIOCMBIS, &dtr) != 0 && !NotSupported(errno))
        return errno;
    if (s.fRtsControl == 0 || s.fRtsControl == 1) {
        if (::ioctl(FFd.Get(), s.fRtsControl == 0 ? TIOCMBIC : TIOCMBIS, &rts) != 0 && !NotSupported(errno))
            return errno;
    }
    serial_rs485 rs485{};
    if (::ioctl(FFd.Get(), TIOCGRS485, &rs485) == 0) {
        // RTS on while sending: the driver's RS-485 direction control.
        const bool toggle = s.fRtsControl == 3;
        if (toggle != ((rs485.flags & SER_RS485_ENABLED) != 0)) {
            rs485.flags = toggle ? (SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) : 0;
            if (::ioctl(FFd.Get(), TIOCSRS485, &rs485) != 0 && !NotSupported(errno)) return errno;
        }
    }
    FDiscardNull = s.fNull;
    return 0;
}

int TPosixDevice::SetCommTimeouts(const TCommTimeouts& Timeouts)
{
    FTimeouts = Timeouts;
    return 0;
}

size_t TPosixDevice::DropNuls(std::span<uint8_t> Bytes) const
{
    if (!FDiscardNull) return Bytes.size();
    return static_cast<size_t>(std::remove(Bytes.begin(), Bytes.end(), uint8_t{0}) - Bytes.begin());
}

size_t TPosixDevice::TakeKept(std::span<uint8_t> Into)
{
    std::lock_guard lock(FKeptLock);
    const size_t n = std::min(Into.size(), FKept.size());
    std::copy_n(FKept.begin(), n, Into.begin());
    FKept.erase(FKept.begin(), FKept.begin() + static_cast<ptrdiff_t>(n));
    return n;
}

// Failures are left for the next read to report.
void TPosixDevice::KeepWaitingInput()
{
    // The line's own queue is far smaller; the bound only keeps a line that
    // never stops sending from holding the caller.
    constexpr size_t MaxKept = 1 << 16;
    std::array<uint8_t, 4096> chunk{};
    std::lock_guard lock(FKeptLock);
    while (FKept.size() < MaxKept) {
        const ssize_t n = ::read(FFd.Get(), chunk.data(), chunk.size());
        if (n <= 0) return;
        const auto kept = std::span(chunk).first(DropNuls(std::span(chunk).first(static_cast<size_t>(n))));
        FKept.insert(FKept.end(), kept.begin(), kept.end());
        FUnreadAtSettings.store(-1);
        if (static_cast<size_t>(n) < chunk.size()) return;
    }
}

int TPosixDevice::ReadMore(TTransfer& t)
{
    auto rest = t.ReadInto.subspan(t.Done);
    if (rest.empty()) return 0;
    const size_t kept = TakeKept(rest);
    t.Done += kept;
    rest = rest.subspan(kept);
    if (rest.empty()) return 0;
    // Bytes delivered from those kept are no failure of a line that has gone since.
    const int hungUpError = kept > 0 ? 0 : EIO;
    if (FDiscardNull) {
        // Bytes past those returned stay untouched: read aside, then keep
        // all but the NULs.
        std::vector<uint8_t> bytes(rest.size());
        const ssize_t n = ::read(FFd.Get(), bytes.data(), bytes.size());
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
        if (n == 0) return HungUp() ? hungUpError : 0;
        const auto nonNul = std::span(bytes).first(DropNuls(std::span(bytes).first(static_cast<size_t>(n))));
        std::copy(nonNul.begin(), nonNul.end(), rest.begin());
        t.Done += nonNul.size();
        FUnreadAtSettings.store(-1); // the count it was taken at is gone
        return 0;
    }
    const ssize_t n = ::read(FFd.Get(), rest.data(), rest.size());
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
    if (n == 0) return HungUp() ? hungUpError : 0;
    t.Done += static_cast<size_t>(n);
    FUnreadAtSettings.store(-1); // the count it was taken at is gone
    return 0;
}

// A read of 0 bytes means no data, or that the other side has gone.
bool TPosixDevice::HungUp() const
{
    pollfd p{FFd.Get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int TPosixDevice::WriteMore(TTransfer& t)
{
    const auto rest = t.WriteFrom.subspan(t.Done);
    if (rest.empty()) return 0;
    const ssize_t n = ::write(FFd.Get(), rest.data(), rest.size());
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
    t.Done += static_cast<size_t>(n);
    if (n > 0) FWrote.store(true);
    return 0;
}

void TPosixDevice::BeginTransfer(TTransfer& t, bool IsWrite)
{
    t.IsWrite = IsWrite;
    t.Done = 0;
    t.Error = 0;
    t.Pending = false;
    t.AbortGeneration = FAbortGeneration.load();
}

int TPosixDevice::StartWrite(TTransfer& t, std::span<const uint8_t> Data)
{
    BeginTransfer(t, true);
    t.WriteFrom = Data;
    if (const int error = WriteMore(t)) return t.Error = error;
    if (t.Done == Data.size()) return 0;

    const uint64_t limit = ClampMs(uint64_t{FTimeouts.WriteTotalTimeoutMultiplier} * Data.size() +
                                   FTimeouts.WriteTotalTimeoutConstant);
    t.HasDeadline = limit != 0;
    t.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    t.Pending = true;
    return ErrorIoPending;
}

int TPosixDevice::StartRead(TTransfer& t, std::span<uint8_t> Buffer)
{
    BeginTransfer(t, false);
    t.ReadInto = Buffer;
    if (const int error = ReadMore(t)) return t.Error = error;

    const TCommTimeouts& to = FTimeouts;
    const bool returnAtOnce = to.ReadIntervalTimeout == MaxDword && to.ReadTotalTimeoutMultiplier == 0 &&
                              to.ReadTotalTimeoutConstant == 0;
    // Interval MaxDword with multiplier MaxDword: wait for the first byte only.
    const bool firstByteEnds = to.ReadIntervalTimeout == MaxDword && to.ReadTotalTimeoutMultiplier == MaxDword &&
                               to.ReadTotalTimeoutConstant != MaxDword;
    if (returnAtOnce || t.Done == Buffer.size() || (firstByteEnds && t.Done > 0)) return 0;

    const uint64_t limit = ClampMs(firstByteEnds ? uint64_t{to.ReadTotalTimeoutConstant}
                                                 : uint64_t{to.ReadTotalTimeoutMultiplier} * Buffer.size() +
                                                       to.ReadTotalTimeoutConstant);
    t.HasDeadline = limit != 0;
    t.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    t.Pending = true;
    return ErrorIoPending;
}

// Polls the line and the transfer's own signal. Returns 0 when the line is
// ready or the time is up, ECANCELED when the transfer was aborted.
int TPosixDevice::WaitForTransfer(TTransfer& t, int TimeoutMs)
{
    pollfd fds[2] = {{FFd.Get(), static_cast<short>(t.IsWrite ? POLLOUT : POLLIN), 0}, {t.Signal, POLLIN, 0}};
    const int n = ::poll(fds, t.Signal >= 0 ? 2 : 1, TimeoutMs);
    if (n < 0 && errno != EINTR) return errno;
    if (FAbortGeneration.load() != t.AbortGeneration) return ECANCELED;
    // The device went away: no transfer can make progress any more.
    if (n > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) return EIO;
    return 0;
}

int TPosixDevice::FinishTransfer(TTransfer& t, uint32_t& Moved)
{
    if (t.Pending) {
        if (t.Signal < 0) t.Signal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        {
            std::lock_guard lock(FWaitingLock);
            FWaiting.push_back(&t);
        }
        const bool firstByteEnds = !t.IsWrite && FTimeouts.ReadIntervalTimeout == MaxDword;
        const auto interval = std::chrono::milliseconds(
            (!t.IsWrite && FTimeouts.ReadIntervalTimeout != 0 && !firstByteEnds) ? FTimeouts.ReadIntervalTimeout : 0);
        auto lastByte = std::chrono::steady_clock::now();
        const size_t size = t.IsWrite ? t.WriteFrom.size() : t.ReadInto.size();

        while (t.Done < size && t.Error == 0) {
            const auto now = std::chrono::steady_clock::now();
            auto until = t.HasDeadline ? t.Deadline : std::chrono::steady_clock::time_point::max();
            if (interval.count() != 0 && t.Done > 0) until = std::min(until, lastByte + interval);
            if (until <= now) break;
            int timeoutMs = -1;
            if (until != std::chrono::steady_clock::time_point::max())
                timeoutMs = static_cast<int>(
                    ClampMs(static_cast<uint64_t>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count())));
            if ((t.Error = WaitForTransfer(t, timeoutMs)) != 0) break;
            const size_t before = t.Done;
            t.Error = t.IsWrite ? WriteMore(t) : ReadMore(t);
            if (t.Done != before) lastByte = std::chrono::steady_clock::now();
            if (firstByteEnds && t.Done > 0) break;
        }
        std::lock_guard lock(FWaitingLock);
        FWaiting.erase(std::remove(FWaiting.begin(), FWaiting.end(), &t), FWaiting.end());
        t.Pending = false;
    }
    Moved = static_cast<uint32_t>(t.Done);
    return t.Error;
}

int TPosixDevice::Purge(uint32_t Flags)
{
    if (Flags & (PURGE_TXABORT | PURGE_RXABORT)) {
        FAbortGeneration.fetch_add(1);
        std::lock_guard lock(FWaitingLock);
        for (TTransfer* t : FWaiting)
            if (t->Signal >= 0) Signal(t->Signal);
    }
    const bool input = Flags & PURGE_RXCLEAR;
    const bool output = Flags & PURGE_TXCLEAR;
    if (input) {
        std::lock_guard lock(FKeptLock);
        FKept.clear();
    }
    if (input || output) {
        const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (::tcflush(FFd.Get(), queue) != 0) return errno;
    }
    return 0;
}

int TPosixDevice::ClearCommError(uint32_t& Errors, TComStat& Stat)
{
    int waiting = 0;
    if (::ioctl(FFd.Get(), TIOCINQ, &waiting) != 0) return errno;
    int unsent = 0;
    if (::ioctl(FFd.Get(), TIOCOUTQ, &unsent) != 0 && !NotSupported(errno)) return errno;
    if (FDiscardNull) {
        KeepWaitingInput();
        waiting = 0;
    }
    {
        std::lock_guard lock(FKeptLock);
        waiting += static_cast<int>(FKept.size());
    }
    Stat.cbInQue = static_cast<uint32_t>(std::max(waiting, 0));
    Stat.cbOutQue = static_cast<uint32_t>(std::max(unsent, 0));
    Errors = 0;
    if (FHaveCounters) {
        serial_icounter_struct now{};
        if (::ioctl(FFd.Get(), TIOCGICOUNT, &now) == 0) {
            Errors = CounterFlags(FCounters, now);
            FCounters = now;
        } else if (!NotSupported(errno)) {
            return errno;
        }
    }
    return 0;
}

int TPosixDevice::GetCommModemStatus(uint32_t& Status)
{
    int lines = 0;
    Status = 0;
    if (::ioctl(FFd.Get(), TIOCMGET, &lines) != 0) return NotSupported(errno) ? 0 : errno;
    Status = ModemFlags(lines);
    return 0;
}

int TPosixDevice::SetCommMask(uint32_t Mask)
{
    const bool watchedOutput = FMask.exchange(Mask) & EV_TXEMPTY;
    if (((Mask & EV_TXEMPTY) != 0) != watchedOutput && FOutputFd.Valid()) {
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLET;
        ev.data.fd = FOutputFd.Get();
        if (::epoll_ctl(FEpoll.Get(), watchedOutput ? EPOLL_CTL_DEL : EPOLL_CTL_ADD, FOutputFd.Get(), &ev) != 0)
            return errno;
    }
    if (Mask & LineWatchEvents)
        StartLineWatcher();
    else
        StopLineWatcher();
    if (Mask == 0) Signal(FMaskChanged.Get());
    return 0;
}

int TPosixDevice::WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped)
{
    Mask = 0;
    Stopped = false;
    if (FRegisteredStop != Stop.Handle()) {
        if (FRegisteredStop >= 0) ::epoll_ctl(FEpoll.Get(), EPOLL_CTL_DEL, FRegisteredStop, nullptr);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = Stop.Handle();
        if (::epoll_ctl(FEpoll.Get(), EPOLL_CTL_ADD, Stop.Handle(), &ev) != 0 && errno != EEXIST) return errno;
        FRegisteredStop = Stop.Handle();
    }
    for (;;) {
        epoll_event events[4];
        const int n = ::epoll_wait(FEpoll.Get(), events, 4, -1);
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
                int waiting = 0;
                const int unreadAtSettings = FUnreadAtSettings.exchange(-1);
                const bool onlySettings = unreadAtSettings >= 0 && ::ioctl(FFd.Get(), TIOCINQ, &waiting) == 0 &&
                                          waiting <= unreadAtSettings;
                if ((what & EPOLLIN) && !onlySettings) {
                    found |= EV_RXCHAR;
                    const int32_t queue = FInQueue.load();
                    if (queue > 0 && ::ioctl(FFd.Get(), TIOCINQ, &waiting) == 0 &&
                        int64_t{waiting} * 10 >= int64_t{queue} * 8)
                        found |= EV_RX80FULL;
                }
            } else if (fd == FOutputFd.Get()) {
                int unsent = 0;
                // Only after a write: the output was empty all along otherwise.
                if ((what & EPOLLOUT) && (::ioctl(FFd.Get(), TIOCOUTQ, &unsent) != 0 || unsent == 0) &&
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
    if (FLineWatcher.joinable() || ::ioctl(FFd.Get(), TIOCMGET, &lines) != 0) return;
    FLineWatcherStop = TFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!FLineWatcherStop.Valid()) return;
    FLineWatcher = std::thread([this] { WatchLines(); });
}

void TPosixDevice::StopLineWatcher()
{
    if (!FLineWatcher.joinable()) return;
    Signal(FLineWatcherStop.Get());
    FLineWatcher.join();
    FLineWatcherStop.Reset();
}

// Modem lines have no readiness the event wait could see; where the driver
// has them, they are looked at twenty times a second.
void TPosixDevice::WatchLines()
{
    int lines = 0;
    ::ioctl(FFd.Get(), TIOCMGET, &lines);
    serial_icounter_struct counters{};
    const bool haveCounters = ::ioctl(FFd.Get(), TIOCGICOUNT, &counters) == 0;
    for (;;) {
        pollfd stop{FLineWatcherStop.Get(), POLLIN, 0};
        if (::poll(&stop, 1, 50) != 0) return;
        int now = 0;
        if (::ioctl(FFd.Get(), TIOCMGET, &now) != 0) return;
        uint32_t events = 0;
        const int changed = now ^ lines;
        if (changed & TIOCM_CTS) events |= EV_CTS;
        if (changed & TIOCM_DSR) events |= EV_DSR;
        if (changed & TIOCM_CD) events |= EV_RLSD;
        if ((now & TIOCM_RNG) && !(lines & TIOCM_RNG)) events |= EV_RING;
        lines = now;
        if (haveCounters) {
            serial_icounter_struct c{};
            if (::ioctl(FFd.Get(), TIOCGICOUNT, &c) == 0) {
                if (c.brk != counters.brk) events |= EV_BREAK;
                if (c.frame != counters.frame || c.parity != counters.parity || c.overrun != counters.overrun ||
                    c.buf_overrun != counters.buf_overrun)
                    events |= EV_ERR;
                counters = c;
            }
        }
        if (events != 0) {
            FLineEvents.fetch_or(events);
            Signal(FLineChanged.Get());
        }
    }
}

class TPosixPlatform final : public TPlatform {
public:
    int OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device) override;
    std::string ErrorText(int Error) const override;
};

int TPosixPlatform::OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device)
{
    const std::string path = Name.find('/') == std::string::npos ? "/dev/" + Name : Name;
    TFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return MapOpenError(errno);

    termios t{};
    if (::tcgetattr(fd.Get(), &t) != 0) return MapOpenError(errno);
    // flock refuses a second opener, in this process or another, also for
    // root; TIOCEXCL keeps out programs that do not ask for the lock.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return MapOpenError(errno);
    ::ioctl(fd.Get(), TIOCEXCL);
    t.c_cflag &= ~HUPCL;
    ::tcsetattr(fd.Get(), TCSANOW, &t);
    auto device = std::make_unique<TPosixDevice>(std::move(fd));
    struct stat st {};
    // The slaves of the system's pseudo-terminals have majors 136..143.
    device->SetPseudoTerminal(::fstat(static_cast<int>(device->Handle()), &st) == 0 && major(st.st_rdev) >= 136 &&
                              major(st.st_rdev) <= 143);
    Device = std::move(device);
    return 0;
}

std::string TPosixPlatform::ErrorText(int Error) const
{
    return std::string(std::strerror(Error));
}

} // namespace

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

TPlatform& TPlatform::System()
{
    static TPosixPlatform platform;
    return platform;
}

} // namespace SerialPlatform

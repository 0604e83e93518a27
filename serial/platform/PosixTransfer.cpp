// Reads, writes, purges and the queries of a serial line on Linux.

#include "serial/platform/PosixDevice.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace SerialPlatform {

namespace {

// Time-outs beyond about 24 days wait as long as that; the products of
// 32-bit settings and byte counts cannot overflow the clock then.
uint64_t ClampMs(uint64_t Ms)
{
    return std::min<uint64_t>(Ms, 0x7FFFFFFF);
}

void Signal(int Fd)
{
    const uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(Fd, &one, sizeof one);
}

// A USB adapter's own transmit buffer, which no query of the driver counts:
// bytes may still be leaving it for this long after the driver's queue has
// emptied.
constexpr size_t AdapterBuffer = 256;

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

} // namespace

std::chrono::microseconds TPosixDevice::CharacterTime() const
{
    const uint64_t speed = std::max<uint32_t>(FTermios.c_ospeed, 1);
    return std::chrono::microseconds(std::max<uint64_t>(BitsPerCharacter(FTermios) * 1000000ull / speed, 1));
}

// Turns what the line delivered into what a read delivers, in place: the
// result is never longer. A mark cut off at the end waits for the next bytes.
size_t TPosixDevice::FilterInput(std::span<uint8_t> Bytes)
{
    const bool dropNul = FDiscardNull;
    const bool marked = FMarkedErrors;
    size_t out = 0;
    auto deliver = [&](uint8_t b) {
        if (!(dropNul && b == 0)) Bytes[out++] = b;
    };
    for (const uint8_t b : Bytes) {
        if (!marked) {
            deliver(b);
            continue;
        }
        switch (FMarkState) {
        case 0:
            if (b == 0xFF)
                FMarkState = 1;
            else
                deliver(b);
            break;
        case 1: // 0xFF 0xFF is a real 0xFF; 0xFF 0x00 announces an error
            FMarkState = b == 0x00 ? 2 : 0;
            if (b != 0x00) deliver(b);
            break;
        default: // the byte received with a parity or framing error
            FMarkState = 0;
            deliver(FReplaceErrors ? FErrorChar.load() : b);
            break;
        }
    }
    return out;
}

size_t TPosixDevice::TakeKept(std::span<uint8_t> Into)
{
    std::lock_guard lock(FKeptLock);
    const size_t n = std::min(Into.size(), FKept.size());
    std::copy_n(FKept.begin(), n, Into.begin());
    FKept.erase(FKept.begin(), FKept.begin() + static_cast<ptrdiff_t>(n));
    return n;
}

void TPosixDevice::ForgetSettingsWakeups()
{
    std::lock_guard lock(FSettingsLock);
    FSettingsWakeups = 0;
    FUnreadAtSettings = -1;
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
        const ssize_t n = FCalls.Read(FFd.Get(), chunk.data(), chunk.size());
        if (n <= 0) return;
        const auto kept = std::span(chunk).first(FilterInput(std::span(chunk).first(static_cast<size_t>(n))));
        FKept.insert(FKept.end(), kept.begin(), kept.end());
        ForgetSettingsWakeups();
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
    if (Filtering()) {
        // Bytes past those returned stay untouched: read aside, then keep
        // what the filter delivers.
        std::vector<uint8_t> bytes(rest.size());
        const ssize_t n = FCalls.Read(FFd.Get(), bytes.data(), bytes.size());
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
        if (n == 0) return HungUp() ? hungUpError : 0;
        size_t delivered = 0;
        {
            std::lock_guard lock(FKeptLock);
            delivered = FilterInput(std::span(bytes).first(static_cast<size_t>(n)));
        }
        std::copy_n(bytes.begin(), delivered, rest.begin());
        t.Done += delivered;
        ForgetSettingsWakeups(); // the count they were taken at is gone
        return 0;
    }
    const ssize_t n = FCalls.Read(FFd.Get(), rest.data(), rest.size());
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
    if (n == 0) return HungUp() ? hungUpError : 0;
    t.Done += static_cast<size_t>(n);
    ForgetSettingsWakeups(); // the count they were taken at is gone
    return 0;
}

// A read of 0 bytes means no data, or that the other side has gone.
bool TPosixDevice::HungUp()
{
    pollfd p{FFd.Get(), POLLIN, 0};
    return FCalls.Poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

int TPosixDevice::WriteMore(TTransfer& t)
{
    const auto rest = t.WriteFrom.subspan(t.Done);
    if (rest.empty()) return 0;
    // Marked before the bytes go: the event wait may see the output empty
    // again before write() has even returned.
    FWrote.store(true);
    const ssize_t n = FCalls.Write(FFd.Get(), rest.data(), rest.size());
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : errno;
    t.Done += static_cast<size_t>(n);
    return 0;
}

bool TPosixDevice::OutputGone(TTransfer& t, std::chrono::microseconds& Wait)
{
    const int fd = FFd.Get();
    int queued = 0;
    if (FCalls.Ioctl(fd, TIOCOUTQ, &queued) != 0) queued = 0;
    if (queued > 0) {
        // Ask again about when half of it should have gone.
        Wait = std::max(CharacterTime() * queued / 2, CharacterTime());
        return false;
    }
    // A pseudo-terminal has no line: what left the queue has arrived.
    if (FPseudoTerminal) return true;
    unsigned lineStatus = 0;
    if (FHasLineStatus && FCalls.Ioctl(fd, TIOCSERGETLSR, &lineStatus) == 0) {
        // A UART: its FIFO and shift register are past the driver's queue.
        Wait = CharacterTime();
        return (lineStatus & TIOCSER_TEMT) != 0;
    }
    if (FHasLineStatus && NotSupported(errno)) FHasLineStatus = false;
    // A USB adapter: its own buffer may still be sending what the driver
    // has handed over.
    const auto now = std::chrono::steady_clock::now();
    if (t.QueueEmptySince == std::chrono::steady_clock::time_point{}) t.QueueEmptySince = now;
    const auto gone = t.QueueEmptySince + CharacterTime() * std::min(t.Done, AdapterBuffer);
    if (now >= gone) return true;
    Wait = std::chrono::ceil<std::chrono::microseconds>(gone - now);
    return false;
}

void TPosixDevice::EndWrite(TTransfer& t, bool Complete)
{
    if (!Complete) {
        // What is still queued did not leave: it is taken off the line, so
        // that it cannot go out after the write reported it unsent.
        int queued = 0;
        if (FCalls.Ioctl(FFd.Get(), TIOCOUTQ, &queued) == 0 && queued > 0) {
            FCalls.Ioctl(FFd.Get(), TCFLSH, reinterpret_cast<void*>(static_cast<uintptr_t>(TCOFLUSH)));
            t.Done -= std::min(t.Done, static_cast<size_t>(queued));
        }
    }
    // Never left raised on a half-duplex line.
    if (FUserRtsToggle) SetModemLine(TIOCM_RTS, false);
}

void TPosixDevice::BeginTransfer(TTransfer& t, bool IsWrite)
{
    t.IsWrite = IsWrite;
    t.Done = 0;
    t.Error = 0;
    t.Pending = false;
    t.HasDeadline = false;
    t.QueueEmptySince = {};
    t.AbortGeneration = FAbortGeneration.load();
}

int TPosixDevice::StartWrite(TTransfer& t, std::span<const uint8_t> Data)
{
    BeginTransfer(t, true);
    t.WriteFrom = Data;
    if (Data.empty()) return 0;
    const uint64_t limit = ClampMs(uint64_t{FTimeouts.WriteTotalTimeoutMultiplier} * Data.size() +
                                   FTimeouts.WriteTotalTimeoutConstant);
    t.HasDeadline = limit != 0;
    t.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    if (FUserRtsToggle) {
        if (const int error = SetModemLine(TIOCM_RTS, true)) return t.Error = error;
    }
    if (const int error = WriteMore(t)) {
        EndWrite(t, false);
        return t.Error = error;
    }
    std::chrono::microseconds wait{};
    if (t.Done == Data.size() && OutputGone(t, wait)) {
        EndWrite(t, true);
        return 0;
    }
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

// Polls the line (for Events, none when only time should pass) and the
// transfer's own signal. Returns 0 when the line is ready or the time is up,
// ECANCELED when the transfer was aborted.
int TPosixDevice::WaitForTransfer(TTransfer& t, short Events, int TimeoutMs)
{
    pollfd fds[2] = {{t.Signal, POLLIN, 0}, {FFd.Get(), Events, 0}};
    const int n = FCalls.Poll(fds, Events != 0 ? 2 : 1, TimeoutMs);
    if (n < 0 && errno != EINTR) return errno;
    if (FAbortGeneration.load() != t.AbortGeneration) return ECANCELED;
    // The device went away: no transfer can make progress any more.
    if (n > 0 && Events != 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) return EIO;
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
        bool complete = false;

        while (t.Error == 0) {
            // A write is done when its bytes have left, not when the driver took them.
            std::chrono::microseconds drainWait{};
            if (t.Done == size && (!t.IsWrite || OutputGone(t, drainWait))) {
                complete = true;
                break;
            }
            const bool draining = t.IsWrite && t.Done == size;
            const auto now = std::chrono::steady_clock::now();
            auto until = t.HasDeadline ? t.Deadline : std::chrono::steady_clock::time_point::max();
            if (interval.count() != 0 && t.Done > 0) until = std::min(until, lastByte + interval);
            if (until <= now) break;
            if (draining) until = std::min(until, now + drainWait);
            int timeoutMs = -1;
            if (until != std::chrono::steady_clock::time_point::max())
                timeoutMs = static_cast<int>(
                    ClampMs(static_cast<uint64_t>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count())));
            const short events = draining ? 0 : t.IsWrite ? POLLOUT : POLLIN;
            if ((t.Error = WaitForTransfer(t, events, timeoutMs)) != 0) break;
            if (draining) continue;
            const size_t before = t.Done;
            t.Error = t.IsWrite ? WriteMore(t) : ReadMore(t);
            if (t.Done != before) lastByte = std::chrono::steady_clock::now();
            if (firstByteEnds && t.Done > 0) {
                complete = true;
                break;
            }
        }
        if (t.IsWrite) EndWrite(t, complete);
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
        FMarkState = 0;
    }
    if (input) ForgetSettingsWakeups();
    if (input || output) {
        const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (FCalls.Ioctl(FFd.Get(), TCFLSH, reinterpret_cast<void*>(static_cast<uintptr_t>(queue))) != 0)
            return errno;
    }
    return 0;
}

int TPosixDevice::ClearCommError(uint32_t& Errors, TComStat& Stat)
{
    int waiting = 0;
    if (FCalls.Ioctl(FFd.Get(), TIOCINQ, &waiting) != 0) return errno;
    int unsent = 0;
    if (FCalls.Ioctl(FFd.Get(), TIOCOUTQ, &unsent) != 0 && !NotSupported(errno)) return errno;
    if (Filtering()) {
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
        if (FCalls.Ioctl(FFd.Get(), TIOCGICOUNT, &now) == 0) {
            std::lock_guard lock(FCountersLock);
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
    if (FCalls.Ioctl(FFd.Get(), TIOCMGET, &lines) != 0) return NotSupported(errno) ? 0 : errno;
    Status = ModemFlags(lines);
    return 0;
}

} // namespace SerialPlatform

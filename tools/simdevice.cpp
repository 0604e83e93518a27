// The simulated metering device: a Modbus RTU slave on a new pseudo-terminal.
// See Usage() in Options.cpp for the command line.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tools/Cp1251.h"
#include "tools/Device.h"
#include "tools/DeviceLog.h"
#include "tools/Faults.h"
#include "tools/LineSpeed.h"
#include "tools/Options.h"
#include "tools/RequestFramer.h"

namespace SimDevice {
namespace {

using namespace std::chrono_literals;

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) : FFd(Fd) {}
    UniqueFd(UniqueFd&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
    UniqueFd& operator=(UniqueFd&& Other) noexcept
    {
        if (this != &Other) {
            Reset();
            FFd = std::exchange(Other.FFd, -1);
        }
        return *this;
    }
    ~UniqueFd() { Reset(); }
    int Get() const { return FFd; }
    void Reset()
    {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

private:
    int FFd = -1;
};

[[noreturn]] void Fail(const std::string& What)
{
    throw std::runtime_error(What + ": " + std::strerror(errno));
}

// Both ends of a pseudo-terminal. The device keeps the slave end open itself,
// so the line outlives the master closing and reopening it, and so the device
// can read the speed the master set.
//
// The device also watches who opens and closes the slave, to behave like a
// port on an adapter once nobody has it open: bytes sent then are lost, not
// kept for the next opener, and the exclusive-use flag (TIOCEXCL) goes, which
// a pseudo-terminal otherwise keeps for as long as its master end is open.
struct Pty {
    UniqueFd Master;
    UniqueFd Slave;
    UniqueFd Watch; // inotify: opens and closes of the slave, ours not counted
    std::string Path;
    int32_t Openers = 0;
};

Pty OpenPty()
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
    Pty pty{UniqueFd(master), UniqueFd(slave), UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), {}, 0};
    std::vector<char> name(256);
    if (::ptsname_r(master, name.data(), name.size()) != 0) Fail("ptsname");
    pty.Path = name.data();
    if (pty.Watch.Get() < 0 || ::inotify_add_watch(pty.Watch.Get(), name.data(), IN_OPEN | IN_CLOSE) < 0)
        Fail("inotify");
    termios t{};
    if (::tcgetattr(slave, &t) != 0) Fail("tcgetattr");
    ::cfmakeraw(&t);
    if (::tcsetattr(slave, TCSANOW, &t) != 0) Fail("tcsetattr");
    for (int fd : {master, slave}) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    return pty;
}

// Makes Link a symlink to Target in one step, replacing what was there.
void PointLink(const std::string& Link, const std::string& Target)
{
    const std::string temporary = Link + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(Target.c_str(), temporary.c_str()) != 0) Fail("symlink " + temporary);
    if (::rename(temporary.c_str(), Link.c_str()) != 0) Fail("rename to " + Link);
}

std::string Hex(std::span<const uint8_t> Bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(Bytes.size() * 3);
    for (uint8_t b : Bytes) {
        if (!text.empty()) text += ' ';
        text += Digits[b >> 4];
        text += Digits[b & 0xF];
    }
    return text;
}

// Long answers are shown by their head and checksum; the texts are in --dump.
std::string Brief(std::span<const uint8_t> Answer)
{
    constexpr size_t Shown = 24;
    if (Answer.size() <= Shown) return Hex(Answer);
    return Hex(Answer.first(8)) + " .. " + Hex(Answer.last(2)) + " (" + std::to_string(Answer.size()) + " bytes)";
}

struct FileCloser {
    void operator()(std::FILE* File) const { std::fclose(File); }
};

// Lines are collected and written once per turn of the event loop, after the
// answers of that turn went out, so logging never delays an answer.
class Logger {
public:
    Logger(const std::string& Path, TimePoint Start) : FStart(Start)
    {
        if (Path.empty()) return;
        FFile.reset(std::fopen(Path.c_str(), "w"));
        if (!FFile) Fail("cannot write " + Path);
    }
    void Line(const std::string& Text)
    {
        std::array<char, 32> stamp{};
        const double seconds = std::chrono::duration<double>(Clock::now() - FStart).count();
        std::snprintf(stamp.data(), stamp.size(), "%11.6f  ", seconds);
        FPending += stamp.data();
        FPending += Text;
        FPending += '\n';
    }
    void Flush()
    {
        if (FPending.empty()) return;
        std::FILE* out = FFile ? FFile.get() : stderr;
        std::fwrite(FPending.data(), 1, FPending.size(), out);
        std::fflush(out);
        FPending.clear();
    }

private:
    TimePoint FStart;
    std::unique_ptr<std::FILE, FileCloser> FFile;
    std::string FPending;
};

// When each answer's last byte went out, for whoever measures the master's
// reaction to it; written like the log, once a turn.
class AnswerTimes {
public:
    explicit AnswerTimes(const std::string& Path)
    {
        if (Path.empty()) return;
        FFile.reset(std::fopen(Path.c_str(), "w"));
        if (!FFile) Fail("cannot write " + Path);
    }
    void Ended(size_t Answers)
    {
        if (!FFile) return;
        const auto ns = std::chrono::duration_cast<nanoseconds>(Clock::now().time_since_epoch()).count();
        for (size_t i = 0; i < Answers; ++i) FPending += std::to_string(ns) + '\n';
    }
    void Flush()
    {
        if (FPending.empty()) return;
        std::fwrite(FPending.data(), 1, FPending.size(), FFile.get());
        std::fflush(FFile.get());
        FPending.clear();
    }

private:
    std::unique_ptr<std::FILE, FileCloser> FFile;
    std::string FPending;
};

std::vector<Bytes> MakeRecords(const Options& O)
{
    if (!O.RecordsFile.empty()) return ReadRecordsFile(O.RecordsFile, O.Lengths.value_or(LengthRange{}), O.Seed);
    return GenerateLog(O.Records, O.Seed, O.Lengths);
}

timespec ToTimespec(TimePoint Time)
{
    const auto ns = std::chrono::duration_cast<nanoseconds>(Time.time_since_epoch()).count();
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

class Simulator {
public:
    Simulator(const Options& O, int SignalFd)
        : FOptions(O), FDevice({O.Address, Utf8ToLatin1(O.Version), O.Serial}, MakeRecords(O), O.RecordCount, O.Seed), FFaults(O.Faults),
          FStart(Clock::now()), FLog(O.Log, FStart), FAnswerTimes(O.AnswerTimes), FSignals(SignalFd)
    {}

    int Run()
    {
        if (!FOptions.Dump.empty()) WriteDump(FOptions.Dump, FDevice.Records());
        Plug();
        while (!FStop) {
            Service(Clock::now());
            FLog.Flush();
            FAnswerTimes.Flush();
            Wait();
        }
        if (!FOptions.Link.empty()) ::unlink(FOptions.Link.c_str());
        FLog.Line("stopped");
        FLog.Flush();
        return 0;
    }

private:
    void Plug()
    {
        FPty = OpenPty();
        std::string name = FPty->Path;
        if (!FOptions.Link.empty()) {
            PointLink(FOptions.Link, FPty->Path);
            name = FOptions.Link;
        }
        std::printf("%s\n", name.c_str());
        std::fflush(stdout);
        FLog.Line("line open: " + FPty->Path + (FOptions.Link.empty() ? "" : " as " + FOptions.Link) + ", " +
                  std::to_string(FDevice.Records().size()) + " records, address " + std::to_string(FOptions.Address));
    }

    // Taken once the master sent something after it, or once it was seen
    // waiting and is gone: right after the write the kernel may not have
    // queued it for reading yet.
    bool AnswerTaken()
    {
        if (FUnplug->InputSince) return true;
        int waiting = 0;
        if (::ioctl(FPty->Slave.Get(), FIONREAD, &waiting) != 0) return true;
        if (waiting > 0) FUnplug->SeenWaiting = true;
        return FUnplug->SeenWaiting && waiting == 0;
    }

    void Unplug(TimePoint Now)
    {
        FUnplug.reset();
        FPty.reset();
        FFramer.Clear();
        FOutbox.Clear();
        if (!FOptions.Link.empty()) ::unlink(FOptions.Link.c_str());
        FLog.Line("line closed (unplugged) after " + std::to_string(FFaults.RecordAnswers()) + " record answers");
        if (FOptions.Replug) FReplugAt = Now + *FOptions.Replug;
    }

    // Everything that is due by Now: answer bytes, the end of a garbled
    // request after a silence, the line coming back.
    void Service(TimePoint Now)
    {
        if (FPty) {
            const auto due = FOutbox.TakeDue(Now);
            // Stamped as the last byte is handed to the line: once written,
            // the master may wake and answer before this process runs again.
            if (due.AnswersEnded != 0) FAnswerTimes.Ended(due.AnswersEnded);
            Write(due.Data);
            if (due.Unplug) FUnplug = PendingUnplug{Now + UnplugWaitLimit};
            // The last answer reaches the master before the line goes: a
            // hang-up throws away what the master has not read yet, which no
            // adapter pulled after its answer would do.
            if (FUnplug && (AnswerTaken() || Now >= FUnplug->By)) Unplug(Now);
        }
        if (FPty && FFramer.Pending() && Now >= FLastInput + Silence()) Report(FFramer.Flush(), Now);
        if (FReplugAt && Now >= *FReplugAt) {
            FReplugAt.reset();
            Plug();
        }
    }

    std::optional<TimePoint> NextDeadline() const
    {
        std::optional<TimePoint> next = FReplugAt;
        const auto consider = [&next](std::optional<TimePoint> t) {
            if (t && (!next || *t < *next)) next = t;
        };
        if (FPty) {
            consider(FOutbox.NextDeadline());
            if (FUnplug) consider(std::min(FUnplug->By, Clock::now() + UnplugPoll));
            if (FFramer.Pending()) consider(FLastInput + Silence());
        }
        return next;
    }

    // Deadlines close ahead are met with an absolute sleep; otherwise the
    // device waits for a request, a signal or the deadline.
    void Wait()
    {
        const auto deadline = NextDeadline();
        const auto now = Clock::now();
        if (deadline && *deadline <= now) return;
        if (deadline && *deadline - now < 2ms) {
            const timespec until = ToTimespec(*deadline);
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {}
            return;
        }
        std::array<pollfd, 3> fds = {{{FSignals, POLLIN, 0},
                                      {FPty ? FPty->Master.Get() : -1, POLLIN, 0},
                                      {FPty ? FPty->Watch.Get() : -1, POLLIN, 0}}};
        std::optional<timespec> timeout;
        if (deadline) {
            const auto left = std::chrono::duration_cast<nanoseconds>(*deadline - now).count();
            timeout = timespec{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        }
        if (::ppoll(fds.data(), fds.size(), timeout ? &*timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR) return;
            Fail("ppoll");
        }
        if (fds[0].revents & POLLIN) FStop = true;
        if (fds[2].revents & POLLIN) CountOpeners();
        if (fds[1].revents & POLLIN)
            Read();
        else if (fds[1].revents & (POLLHUP | POLLERR))
            Unplug(Clock::now());
    }

    // Takes in the opens and closes seen so far; called before every read
    // and write so that an open is always counted before the bytes written
    // after it.
    void CountOpeners()
    {
        alignas(inotify_event) std::array<char, 4096> buffer{};
        for (;;) {
            const ssize_t n = ::read(FPty->Watch.Get(), buffer.data(), buffer.size());
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                if (event->mask & IN_OPEN) ++FPty->Openers;
                if ((event->mask & IN_CLOSE) && FPty->Openers > 0 && --FPty->Openers == 0) LineClosed();
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void LineClosed()
    {
        ::tcflush(FPty->Slave.Get(), TCIFLUSH);
        int exclusive = 0;
        const bool wasExclusive = ::ioctl(FPty->Slave.Get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
        if (wasExclusive) ::ioctl(FPty->Slave.Get(), TIOCNXCL);
        FLog.Line(std::string("the master closed the line") + (wasExclusive ? "; exclusive use released" : ""));
    }

    void Read()
    {
        CountOpeners();
        std::array<uint8_t, 4096> buffer{};
        for (;;) {
            const ssize_t n = ::read(FPty->Master.Get(), buffer.data(), buffer.size());
            if (n <= 0) break;
            FLastInput = Clock::now();
            if (FUnplug) FUnplug->InputSince = true;
            Report(FFramer.Push(std::span(buffer).first(static_cast<size_t>(n))), FLastInput);
        }
    }

    void Report(const std::vector<FramerEvent>& Events, TimePoint Arrival)
    {
        for (const auto& e : Events) {
            switch (e.Kind) {
            case FramerEvent::TKind::Request: Answer(e.Bytes, Arrival); break;
            case FramerEvent::TKind::BadChecksum: FLog.Line("rx " + Hex(e.Bytes) + "  bad checksum, no answer"); break;
            case FramerEvent::TKind::Garbage: FLog.Line("rx " + Hex(e.Bytes) + "  garbage, dropped"); break;
            }
        }
    }

    int32_t Baud() const
    {
        if (FOptions.Baud != 0) return FOptions.Baud;
        return FPty ? LineSpeed(FPty->Slave.Get()) : 0;
    }

    // 3.5 characters at the line speed, but no less than 1.75 ms, as Modbus
    // RTU has it for fast lines.
    nanoseconds Silence() const { return std::max<nanoseconds>(LineTime(35, Baud()) / 10, 1750us); }

    void Answer(const Bytes& Request, TimePoint Arrival)
    {
        if (FUnplug) {
            FUnplug->InputSince = true;
            FLog.Line("rx " + Hex(Request) + "  the line is being pulled, no answer");
            return;
        }
        Reply reply = FDevice.Respond(Request);
        std::string line = "rx " + Hex(Request) + "  " + reply.Note;
        if (!reply.Answer) {
            FLog.Line(line + ", no answer");
            return;
        }
        const FaultDecision fault = reply.IsRecordAnswer ? FFaults.NextRecordAnswer() : FaultDecision{};
        const int32_t baud = FOptions.Pace ? Baud() : 0;
        TimePoint due = Arrival + LineTime(Request.size(), baud) + FOptions.Delay;
        if (fault.Late) due += FOptions.Faults.Late;
        Bytes answer = fault.Drop ? Bytes{} : std::move(*reply.Answer);
        if (fault.Drop) line += " -> dropped";
        if (fault.Corrupt) line += " -> byte " + std::to_string(Corrupt(answer)) + " corrupted";
        if (!answer.empty()) line += " -> tx " + Brief(answer);
        if (baud != 0 && !answer.empty()) line += "  paced at " + std::to_string(baud) + " bit/s";
        if (FOptions.SplitGap.count() != 0 && !answer.empty())
            line += "  split, " + std::to_string(FOptions.SplitGap.count()) + " ms gap";
        if (fault.Late) line += "  late by " + std::to_string(FOptions.Faults.Late / 1ms) + " ms";
        if (fault.Unplug) line += "  then unplugged";
        FLog.Line(line);
        if (!answer.empty() || fault.Unplug)
            FOutbox.Add({std::move(answer), due, baud, FOptions.SplitGap, fault.Unplug});
    }

    void Write(std::span<const uint8_t> Data)
    {
        if (Data.empty()) return;
        CountOpeners();
        if (FPty->Openers == 0) {
            FLog.Line("nobody has the line open: " + std::to_string(Data.size()) + " bytes lost");
            return;
        }
        while (!Data.empty()) {
            const ssize_t n = ::write(FPty->Master.Get(), Data.data(), Data.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                FLog.Line("line full or gone, " + std::to_string(Data.size()) + " bytes not sent");
                return;
            }
            Data = Data.subspan(static_cast<size_t>(n));
        }
    }

    const Options& FOptions;
    Device FDevice;
    FaultSchedule FFaults;
    RequestFramer FFramer;
    Outbox FOutbox;
    TimePoint FStart;
    Logger FLog;
    AnswerTimes FAnswerTimes;
    int FSignals;
    std::optional<Pty> FPty;
    TimePoint FLastInput{};
    std::optional<TimePoint> FReplugAt;
    // Set once the answer that ends in an unplug has been written.
    struct PendingUnplug {
        TimePoint By;
        bool SeenWaiting = false;
        bool InputSince = false;
    };
    std::optional<PendingUnplug> FUnplug;
    static constexpr auto UnplugWaitLimit = 1s;
    static constexpr auto UnplugPoll = 5ms; // long enough to wait in ppoll, woken by input
    bool FStop = false;
};

UniqueFd BlockStopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) Fail("sigprocmask");
    ::signal(SIGPIPE, SIG_IGN);
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) Fail("signalfd");
    return UniqueFd(fd);
}

} // namespace
} // namespace SimDevice

int main(int argc, char** argv)
{
    using namespace SimDevice;
    Options options;
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        options = ParseOptions(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simdevice: %s\n\n%s", e.what(), Usage().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(Usage().c_str(), stdout);
        return 0;
    }
    try {
        // Pacing at 115200 bit/s means 87 us a byte: sleep no longer than asked.
        ::prctl(PR_SET_TIMERSLACK, 1UL);
        const UniqueFd signals = BlockStopSignals();
        Simulator simulator(options, signals.Get());
        return simulator.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simdevice: %s\n", e.what());
        return 1;
    }
}

#include "ui/cli/CliEventLoop.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "runtime/ExceptionDisplay.h"
#include "runtime/MainThread.h"

namespace {

// The write end of the signal pipe, for the handler, which may use nothing else.
volatile sig_atomic_t SignalPipeWrite = -1;

void SignalHandler(int Signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(Signal);
    if (SignalPipeWrite >= 0) {
        const ssize_t written = ::write(SignalPipeWrite, &byte, 1);
        (void)written;
    }
    errno = saved;
}

std::array<int, 2> NonBlockingPipe()
{
    std::array<int, 2> fds{-1, -1};
    if (::pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
    return fds;
}

void Drain(int Fd)
{
    unsigned char buffer[64];
    while (::read(Fd, buffer, sizeof buffer) > 0) {
    }
}

constexpr int HandledSignals[] = {SIGINT, SIGTERM};

} // namespace

TCliEventLoop::TCliEventLoop()
{
    const auto wake = NonBlockingPipe();
    FWakeRead = wake[0];
    FWakeWrite = wake[1];
    const auto signals = NonBlockingPipe();
    FSignalRead = signals[0];
    SignalPipeWrite = signals[1];

    struct sigaction action {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : HandledSignals) ::sigaction(signal, &action, nullptr);

    MainThread::MakeCurrentThreadMain();
    // Called from the port's event thread whenever it has queued a hand-over.
    MainThread::SetWakeHook([fd = FWakeWrite] {
        const unsigned char byte = 1;
        const ssize_t written = ::write(fd, &byte, 1); // a full pipe wakes the loop anyway
        (void)written;
    });
    SetExceptionDisplay([this](const std::exception& E) {
        if (OnError) OnError(E);
    });
}

TCliEventLoop::~TCliEventLoop()
{
    SetExceptionDisplay(nullptr);
    MainThread::SetWakeHook(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : HandledSignals) ::sigaction(signal, &action, nullptr);
    const int signalWrite = SignalPipeWrite;
    SignalPipeWrite = -1;
    for (int fd : {FWakeRead, FWakeWrite, FSignalRead, signalWrite}) ::close(fd);
}

TCliEventLoop::TTimerId TCliEventLoop::AddTimer(std::function<void()> Handler)
{
    FTimers.push_back({std::move(Handler), std::nullopt});
    return FTimers.size() - 1;
}

void TCliEventLoop::StartTimer(TTimerId Timer, std::chrono::microseconds Interval)
{
    FTimers.at(Timer).Due = TClock::now() + Interval;
}

void TCliEventLoop::StopTimer(TTimerId Timer)
{
    FTimers.at(Timer).Due.reset();
}

bool TCliEventLoop::TimerActive(TTimerId Timer) const
{
    return FTimers.at(Timer).Due.has_value();
}

void TCliEventLoop::RunUntil(const std::function<bool()>& Done)
{
    while (!Done()) {
        WaitForEvent();
        Drain(FWakeRead);
        // Every hand-over queued before the wake byte was drained runs now.
        MainThread::CheckSynchronize();
        TakeSignals();
        RunDueTimers();
    }
}

void TCliEventLoop::WaitForEvent()
{
    std::optional<TClock::time_point> next;
    for (const TTimer& timer : FTimers)
        if (timer.Due && (!next || *timer.Due < *next)) next = timer.Due;

    timespec timeout{};
    timespec* wait = nullptr; // no timer: wait for a hand-over or a signal
    if (next) {
        const auto left = std::max(TClock::duration::zero(), *next - TClock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        wait = &timeout;
    }
    pollfd fds[] = {{FWakeRead, POLLIN, 0}, {FSignalRead, POLLIN, 0}};
    ::ppoll(fds, 2, wait, nullptr); // EINTR: a signal, whose byte is in the pipe
}

void TCliEventLoop::RunDueTimers()
{
    const auto now = TClock::now();
    for (TTimer& timer : FTimers) {
        if (!timer.Due || *timer.Due > now) continue;
        timer.Due.reset();
        try {
            timer.Handler();
        } catch (const std::exception& e) {
            if (OnError) OnError(e);
        }
    }
}

void TCliEventLoop::TakeSignals()
{
    unsigned char signals[16];
    for (;;) {
        const ssize_t n = ::read(FSignalRead, signals, sizeof signals);
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i)
            if (OnSignal) OnSignal(signals[i]);
    }
}

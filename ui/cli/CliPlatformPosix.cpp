#include "ui/cli/CliPlatform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace CliPlatform {

namespace {

// The write end of the interrupt pipe, for the handler, which may use nothing else.
volatile sig_atomic_t InterruptPipeWrite = -1;

void InterruptHandler(int Signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(Signal);
    if (InterruptPipeWrite >= 0) {
        const ssize_t written = ::write(InterruptPipeWrite, &byte, 1);
        (void)written;
    }
    errno = saved;
}

constexpr int Interrupts[] = {SIGINT, SIGTERM};

struct TPipe {
    int Read = -1;
    int Write = -1;
    TPipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
        Read = fds[0];
        Write = fds[1];
    }
    ~TPipe()
    {
        ::close(Read);
        ::close(Write);
    }
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;
};

void Drain(int Fd)
{
    unsigned char buffer[64];
    while (::read(Fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

// A self-pipe for the wake-ups and one for the signal handler: poll waits
// for both at once.
struct TWaitSet::TState {
    TPipe Wake;
    TPipe Interrupt;
};

TWaitSet::TWaitSet() : FState(std::make_unique<TState>())
{
    InterruptPipeWrite = FState->Interrupt.Write;
    struct sigaction action {};
    action.sa_handler = InterruptHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : Interrupts) ::sigaction(signal, &action, nullptr);
}

TWaitSet::~TWaitSet()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : Interrupts) ::sigaction(signal, &action, nullptr);
    InterruptPipeWrite = -1;
}

void TWaitSet::Wake()
{
    const unsigned char byte = 1;
    const ssize_t written = ::write(FState->Wake.Write, &byte, 1); // a full pipe wakes the wait anyway
    (void)written;
}

void TWaitSet::Wait(std::optional<TClock::time_point> Deadline)
{
    timespec timeout{};
    timespec* limit = nullptr;
    if (Deadline) {
        const auto left = std::max(TClock::duration::zero(), *Deadline - TClock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        limit = &timeout;
    }
    pollfd fds[] = {{FState->Wake.Read, POLLIN, 0}, {FState->Interrupt.Read, POLLIN, 0}};
    ::ppoll(fds, 2, limit, nullptr); // EINTR: a signal, whose byte is in the pipe
    Drain(FState->Wake.Read);
}

std::vector<int> TWaitSet::TakeInterrupts()
{
    std::vector<int> signals;
    unsigned char buffer[16];
    for (;;) {
        const ssize_t n = ::read(FState->Interrupt.Read, buffer, sizeof buffer);
        if (n <= 0) return signals;
        signals.insert(signals.end(), buffer, buffer + n);
    }
}

bool StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace CliPlatform

#include "serial/platform/PosixSysCalls.h"

#include <cerrno>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace SerialPlatform {

namespace {

// The signal that breaks a helper out of a blocking ioctl. Its handler does
// nothing; installed without SA_RESTART so the call returns EINTR.
int WakeSignal()
{
    static const int signal = [] {
        const int number = SIGRTMIN + 5;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

class TKernelCalls final : public TSysCalls {
public:
    int Open(const char* Path, int Flags) override { return ::open(Path, Flags); }
    int Close(int Fd) override { return ::close(Fd); }
    ssize_t Read(int Fd, void* Buffer, size_t Count) override { return ::read(Fd, Buffer, Count); }
    ssize_t Write(int Fd, const void* Buffer, size_t Count) override { return ::write(Fd, Buffer, Count); }
    int Ioctl(int Fd, unsigned long Request, void* Argument) override { return ::ioctl(Fd, Request, Argument); }
    int Poll(pollfd* Fds, nfds_t Count, int TimeoutMs) override { return ::poll(Fds, Count, TimeoutMs); }
    int EpollCreate() override { return ::epoll_create1(EPOLL_CLOEXEC); }
    int EpollCtl(int Epoll, int Op, int Fd, epoll_event* Event) override
    {
        return ::epoll_ctl(Epoll, Op, Fd, Event);
    }
    int EpollWait(int Epoll, epoll_event* Events, int Max, int TimeoutMs) override
    {
        return ::epoll_wait(Epoll, Events, Max, TimeoutMs);
    }
    int Dup(int Fd) override { return ::fcntl(Fd, F_DUPFD_CLOEXEC, 0); }
    int Flock(int Fd, int Operation) override { return ::flock(Fd, Operation); }
    int Fstat(int Fd, struct stat* Stat) override { return ::fstat(Fd, Stat); }
    void Interrupt(std::thread& Thread) override { ::pthread_kill(Thread.native_handle(), WakeSignal()); }
};

} // namespace

TSysCalls& TSysCalls::Kernel()
{
    WakeSignal();
    static TKernelCalls calls;
    return calls;
}

} // namespace SerialPlatform

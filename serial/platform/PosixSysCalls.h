#pragma once
// The system calls the Linux serial line services make, behind one narrow
// interface: the real kernel in the program, a model of the kernel's side of
// a UART or USB adapter in tests. Each call behaves as the system call of the
// same name: -1 and errno on failure.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace SerialPlatform {

class TPlatform;

class TSysCalls {
public:
    virtual ~TSysCalls() = default;
    virtual int Open(const char* Path, int Flags) = 0;
    virtual int Close(int Fd) = 0;
    virtual ssize_t Read(int Fd, void* Buffer, size_t Count) = 0;
    virtual ssize_t Write(int Fd, const void* Buffer, size_t Count) = 0;
    virtual int Ioctl(int Fd, unsigned long Request, void* Argument) = 0;
    virtual int Poll(pollfd* Fds, nfds_t Count, int TimeoutMs) = 0;
    virtual int EpollCreate() = 0;
    virtual int EpollCtl(int Epoll, int Op, int Fd, epoll_event* Event) = 0;
    virtual int EpollWait(int Epoll, epoll_event* Events, int Max, int TimeoutMs) = 0;
    // A second descriptor of the same open line.
    virtual int Dup(int Fd) = 0;
    virtual int Flock(int Fd, int Operation) = 0;
    virtual int Fstat(int Fd, struct stat* Stat) = 0;
    // Makes a call the thread is blocked in (a wait for modem lines) return
    // with EINTR; a thread about to block may miss it, so callers repeat it
    // until the thread has left.
    virtual void Interrupt(std::thread& Thread) = 0;

    // The running kernel.
    static TSysCalls& Kernel();
};

// The serial line services over the given system calls. UUCP lock files are
// kept in LockFolder ("/run/lock" for the system's platform); an empty name
// keeps none.
std::unique_ptr<TPlatform> MakePosixPlatform(TSysCalls& Calls, std::string LockFolder);

} // namespace SerialPlatform

#include "runtime/ThreadPriority.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int SetCurrentThreadNice(int Nice)
{
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, tid, Nice) == 0 ? 0 : errno;
}

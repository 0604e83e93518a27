#include "runtime/ThreadPriority.h"

#include <cerrno>
#include <windows.h>

namespace {

// The thread priorities of the normal priority class, from the niceness the
// event thread's seven levels map to.
int PriorityOf(int Nice)
{
    if (Nice >= 19) return THREAD_PRIORITY_IDLE;
    if (Nice >= 10) return THREAD_PRIORITY_LOWEST;
    if (Nice > 0) return THREAD_PRIORITY_BELOW_NORMAL;
    if (Nice == 0) return THREAD_PRIORITY_NORMAL;
    if (Nice > -10) return THREAD_PRIORITY_ABOVE_NORMAL;
    if (Nice > -20) return THREAD_PRIORITY_HIGHEST;
    return THREAD_PRIORITY_TIME_CRITICAL;
}

} // namespace

int SetCurrentThreadNice(int Nice)
{
    if (::SetThreadPriority(::GetCurrentThread(), PriorityOf(Nice))) return 0;
    const DWORD error = ::GetLastError();
    // A refusal reads as on other systems, so that callers treat it alike.
    return error == ERROR_ACCESS_DENIED ? EACCES : static_cast<int>(error);
}

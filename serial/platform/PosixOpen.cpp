// Opening a serial line on Linux, its settings, and putting everything back
// at close.

#include "serial/platform/PosixDevice.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace SerialPlatform {

bool NotSupported(int Error)
{
    // 515 is the kernel's "no such ioctl" that some drivers let through.
    return Error == ENOTTY || Error == EINVAL || Error == 515 || Error == EOPNOTSUPP;
}

namespace {

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

// The process named in a lock file: ten ASCII digits as the usual programs
// write them, or a binary int as older ones did. 0 when unreadable.
pid_t LockOwner(const std::string& Path)
{
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 0;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n == sizeof(int)) {
        int binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        if (binary > 0) return binary;
    }
    if (n <= 0) return 0;
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

bool ProcessAlive(pid_t Pid)
{
    return ::kill(Pid, 0) == 0 || errno == EPERM;
}

class TPosixPlatform final : public TPlatform {
public:
    TPosixPlatform(TSysCalls& Calls, std::string LockFolder) : FCalls(Calls), FLockFolder(std::move(LockFolder)) {}
    int OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device) override;
    std::string ErrorText(int Error) const override { return std::string(std::strerror(Error)); }

private:
    TSysCalls& FCalls;
    std::string FLockFolder;
};

int TPosixPlatform::OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device)
{
    const std::string path = Name.find('/') == std::string::npos ? "/dev/" + Name : Name;
    TOpenedLine line;
    line.Fd = TFd(FCalls, FCalls.Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.Fd.Valid()) return MapOpenError(errno);
    const int fd = line.Fd.Get();

    // Reading the settings proves it is a terminal; they are put back at close.
    if (FCalls.Ioctl(fd, GetTermios2, &line.Found) != 0) return MapOpenError(errno);
    if (!FLockFolder.empty()) {
        if (const int error = line.Lock.Acquire(FLockFolder, path)) return error;
    }
    // flock refuses a second opener, in this process or another, also for
    // root; TIOCEXCL keeps out programs that do not ask for the lock.
    if (FCalls.Flock(fd, LOCK_EX | LOCK_NB) != 0) return MapOpenError(errno);
    FCalls.Ioctl(fd, TIOCEXCL, nullptr);

    struct stat st {};
    // The slaves of the system's pseudo-terminals have majors 136..143.
    line.PseudoTerminal = FCalls.Fstat(fd, &st) == 0 && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;

    // No hang-up should the program end without closing; the line's own
    // setting comes back at close.
    TKernelTermios t = line.Found;
    t.c_cflag &= ~static_cast<uint32_t>(HUPCL);
    FCalls.Ioctl(fd, SetTermios2, &t);

    // USB adapters hold a short answer back for their latency timer (16 ms
    // on FTDI chips); low-latency mode makes it 1 ms. An ordinary user may ask.
    serial_struct serial{};
    if (FCalls.Ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        line.LowLatencySet = FCalls.Ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
    Device = std::make_unique<TPosixDevice>(FCalls, std::move(line));
    return 0;
}

} // namespace

std::unique_ptr<TPlatform> MakePosixPlatform(TSysCalls& Calls, std::string LockFolder)
{
    return std::make_unique<TPosixPlatform>(Calls, std::move(LockFolder));
}

TPlatform& TPlatform::System()
{
    static const std::unique_ptr<TPlatform> platform = MakePosixPlatform(TSysCalls::Kernel(), "/run/lock");
    return *platform;
}

// --- UUCP lock file ----------------------------------------------------------

std::string TUucpLock::FileName(const std::string& DevicePath)
{
    // The name the terminal programs use: the device under /dev, its own
    // folders joined with '_' ("pts/3" becomes "pts_3").
    char resolved[PATH_MAX];
    std::string path = ::realpath(DevicePath.c_str(), resolved) ? std::string(resolved) : DevicePath;
    if (path.rfind("/dev/", 0) == 0)
        path.erase(0, 5);
    else
        path = path.substr(path.find_last_of('/') + 1);
    for (char& c : path)
        if (c == '/') c = '_';
    return "LCK.." + path;
}

int TUucpLock::Acquire(const std::string& Folder, const std::string& DevicePath)
{
    const std::string path = Folder + "/" + FileName(DevicePath);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    // Written in full under a name of its own, then linked into place: a
    // reader never sees a half-written lock.
    const std::string scratch = path + "." + std::to_string(::getpid());
    const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        // No lock can be made here; a live holder still refuses the line.
        const pid_t owner = LockOwner(path);
        return owner > 0 && ProcessAlive(owner) ? ErrorAccessDenied : 0;
    }
    const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
    ::close(fd);
    int result = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (written && ::link(scratch.c_str(), path.c_str()) == 0) {
            FPath = path;
            break;
        }
        if (errno != EEXIST) break;
        const pid_t owner = LockOwner(path);
        if (owner > 0 && ProcessAlive(owner)) {
            result = ErrorAccessDenied;
            break;
        }
        // The holder is gone (or wrote nothing we can read): a stale lock.
        ::unlink(path.c_str());
    }
    ::unlink(scratch.c_str());
    return result;
}

TUucpLock::~TUucpLock()
{
    if (!FPath.empty()) ::unlink(FPath.c_str());
}

// --- device ------------------------------------------------------------------

TPosixDevice::TPosixDevice(TSysCalls& Calls, TOpenedLine Line)
    : FCalls(Calls),
      FFd(std::move(Line.Fd)),
      FLock(std::move(Line.Lock)),
      FFound(Line.Found),
      FTermios(Line.Found),
      FPseudoTerminal(Line.PseudoTerminal),
      FLowLatencySet(Line.LowLatencySet),
      FOutputFd(Calls, Calls.Dup(FFd.Get())),
      FEpoll(Calls, Calls.EpollCreate()),
      FMaskChanged(Calls, ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      FLineChanged(Calls, ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    for (int fd : {FMaskChanged.Get(), FLineChanged.Get()}) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        FCalls.EpollCtl(FEpoll.Get(), EPOLL_CTL_ADD, fd, &ev);
    }
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.fd = FFd.Get();
    FCalls.EpollCtl(FEpoll.Get(), EPOLL_CTL_ADD, FFd.Get(), &ev);
    FHaveCounters = FCalls.Ioctl(FFd.Get(), TIOCGICOUNT, &FCounters) == 0;
    FEventCounters = FCounters;
}

TPosixDevice::~TPosixDevice()
{
    StopLineWatcher();
    RestoreLine();
    // A pseudo-terminal keeps the exclusive flag while its other side stays
    // open, which would refuse our own next open.
    FCalls.Ioctl(FFd.Get(), TIOCNXCL, nullptr);
    FCalls.Flock(FFd.Get(), LOCK_UN);
}

void TPosixDevice::RestoreLine()
{
    const int fd = FFd.Get();
    if (FUserRtsToggle) SetModemLine(TIOCM_RTS, false);
    // A stuck output queue could hold close() for half a minute. Every byte
    // still queued was reported unsent by its write.
    FCalls.Ioctl(fd, TCFLSH, reinterpret_cast<void*>(static_cast<uintptr_t>(TCOFLUSH)));
    if (FRs485Changed) FCalls.Ioctl(fd, TIOCSRS485, &FRs485Found);
    if (FLowLatencySet) {
        serial_struct serial{};
        if (FCalls.Ioctl(fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags &= ~ASYNC_LOW_LATENCY;
            FCalls.Ioctl(fd, TIOCSSERIAL, &serial);
        }
    }
    // The line as it was found, hang-up on close included.
    TKernelTermios found = FFound;
    FCalls.Ioctl(fd, SetTermios2, &found);
}

int TPosixDevice::SetupComm(int32_t InQueue, int32_t /*OutQueue*/)
{
    // The kernel keeps queues of its own size; the input size still sets
    // where the queue counts as 80 % full.
    FInQueue = InQueue;
    return 0;
}

int TPosixDevice::SetModemLine(int Line, bool On)
{
    if (FCalls.Ioctl(FFd.Get(), On ? TIOCMBIS : TIOCMBIC, &Line) != 0 && !NotSupported(errno)) return errno;
    return 0;
}

int TPosixDevice::SetCommState(const TLineSettings& s)
{
    const int fd = FFd.Get();
    TKernelTermios asked{};
    if (FCalls.Ioctl(fd, GetTermios2, &asked) != 0) return errno;
    if (const int error = LineSettingsToKernelTermios(s, asked)) return error;
    // The line discipline wakes the writers and then the readers of the
    // line, both without saying why, and the event wait's entry hears both:
    // one or two reports, as the wait happens to collect them.
    constexpr int WakeupsPerSettings = 2;
    int waiting = 0;
    const bool unread = FCalls.Ioctl(fd, TIOCINQ, &waiting) == 0 && waiting > 0;
    if (unread) {
        std::lock_guard lock(FSettingsLock);
        FSettingsWakeups += WakeupsPerSettings;
        FUnreadAtSettings = std::max(FUnreadAtSettings, waiting);
    }
    // One record, speed included; then read back what the driver made of it.
    if (FCalls.Ioctl(fd, SetTermios2, &asked) != 0 && !(FPseudoTerminal && errno == EINVAL)) {
        const int error = errno;
        // Refused: nobody was woken.
        std::lock_guard lock(FSettingsLock);
        if (unread) FSettingsWakeups = std::max(FSettingsWakeups - WakeupsPerSettings, 0);
        return error;
    }
    TKernelTermios taken{};
    if (FCalls.Ioctl(fd, GetTermios2, &taken) != 0) return errno;
    if (const int error = CheckSettingsTaken(asked, taken, FPseudoTerminal)) return error;
    FTermios = taken;

    FDiscardNull = s.fNull;
    FMarkedErrors = s.fParity;
    FReplaceErrors = s.fErrorChar;
    FErrorChar = s.ErrorChar;

    // DTR held as asked; a port without modem lines has nothing to hold.
    if (const int error = SetModemLine(TIOCM_DTR, s.fDtrControl != 0)) return error;
    return SetRts(s);
}

// RS-485 is the driver's only where it was asked for: a configuration the
// board or its vendor tool set stays as it was, and comes back at close.
int TPosixDevice::SetRts(const TLineSettings& s)
{
    const int fd = FFd.Get();
    serial_rs485 rs485{};
    const bool hasRs485 = FCalls.Ioctl(fd, TIOCGRS485, &rs485) == 0;
    FUserRtsToggle = false;
    if (s.fRtsControl == 3) {
        if (!hasRs485) {
            // No RS-485 mode in the driver (USB adapters): RTS is raised for
            // each write and dropped when its bytes have left.
            FUserRtsToggle = true;
            return SetModemLine(TIOCM_RTS, false);
        }
        if (!FRs485Changed) FRs485Found = rs485;
        rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        rs485.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
        if (FCalls.Ioctl(fd, TIOCSRS485, &rs485) != 0) return errno;
        FRs485Changed = true;
        return 0;
    }
    if (FRs485Changed) {
        if (FCalls.Ioctl(fd, TIOCSRS485, &FRs485Found) != 0 && !NotSupported(errno)) return errno;
        FRs485Changed = false;
        rs485 = FRs485Found;
    }
    // While the driver runs RS-485 it drives RTS itself.
    if (hasRs485 && (rs485.flags & SER_RS485_ENABLED)) return 0;
    if (s.fRtsControl == 0 || s.fRtsControl == 1) return SetModemLine(TIOCM_RTS, s.fRtsControl == 1);
    return 0;
}

int TPosixDevice::SetCommTimeouts(const TCommTimeouts& Timeouts)
{
    FTimeouts = Timeouts;
    return 0;
}

} // namespace SerialPlatform

#include "KernelModel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using TClock = std::chrono::steady_clock;

// Room in the driver's transmit queue, as serial core and usb-serial keep it.
constexpr size_t TransmitQueue = 4096;
// The line discipline wakes writers once fewer than this many bytes wait.
constexpr size_t WakeupChars = 256;

uint32_t StandardSpeed(uint32_t Bits)
{
    switch (Bits) {
    case B50: return 50;         case B75: return 75;         case B110: return 110;
    case B134: return 134;       case B150: return 150;       case B200: return 200;
    case B300: return 300;       case B600: return 600;       case B1200: return 1200;
    case B1800: return 1800;     case B2400: return 2400;     case B4800: return 4800;
    case B9600: return 9600;     case B19200: return 19200;   case B38400: return 38400;
    case B57600: return 57600;   case B115200: return 115200; case B230400: return 230400;
    case B460800: return 460800; case B921600: return 921600;
    default: return 0;
    }
}

uint32_t SpeedBits(uint32_t Speed)
{
    for (uint32_t bits : {B50, B75, B110, B134, B150, B200, B300, B600, B1200, B1800, B2400, B4800, B9600, B19200,
                          B38400, B57600, B115200, B230400, B460800, B921600})
        if (StandardSpeed(bits) == Speed) return bits;
    return BOTHER;
}

int Fail(int Error)
{
    errno = Error;
    return -1;
}

} // namespace

// --- port ----------------------------------------------------------------------

TModelPort::TModelPort(TKernelModel& Model, std::string Path, TPortKind Kind)
    : FModel(Model), FPath(std::move(Path)), FKind(Kind)
{
    // As a driver leaves a line nobody has set up: 9600 8N1, hang-up on close.
    FTermios.c_cflag = B9600 | CS8 | CREAD | HUPCL | CLOCAL;
    FTermios.c_ispeed = FTermios.c_ospeed = 9600;
    FHiddenFifo = Kind == TPortKind::Uart ? 16 : Kind == TPortKind::FtdiAdapter ? 256 : 0;
    FSerial.type = Kind == TPortKind::Uart ? PORT_16550A : PORT_UNKNOWN;
    FSerial.baud_base = static_cast<int>(UartClock / 16);
    FLastDrain = TClock::now();
}

std::chrono::nanoseconds TModelPort::CharacterTime() const
{
    unsigned bits = 1 + 5 + ((FTermios.c_cflag & CSIZE) >> 4) + ((FTermios.c_cflag & PARENB) ? 1 : 0) +
                    ((FTermios.c_cflag & CSTOPB) ? 2 : 1);
    return std::chrono::nanoseconds(uint64_t{bits} * 1000000000ull / std::max<uint32_t>(FTermios.c_ospeed, 1));
}

bool TModelPort::Holding() const
{
    return (FTermios.c_cflag & CRTSCTS) && !(FModemIn & TIOCM_CTS);
}

size_t TModelPort::CountedOutput() const
{
    return FOutput.size() - FFifo;
}

bool TModelPort::Writable() const
{
    return CountedOutput() < WakeupChars && FOutput.size() < TransmitQueue + FHiddenFifo;
}

void TModelPort::Advance(TClock::time_point Now)
{
    // The transmitter takes a FIFO load whenever its FIFO has run empty (a
    // USB chip its buffer); flow control holds back the next load only.
    const auto perChar = CharacterTime();
    const bool rts = (FModemOut & TIOCM_RTS) ||
                     ((FRs485.flags & SER_RS485_ENABLED) && (FRs485.flags & SER_RS485_RTS_ON_SEND));
    size_t left = 0;
    for (;;) {
        if (FFifo == 0) {
            if (FOutput.empty() || Holding()) break;
            FFifo = std::min(FOutput.size(), std::max<size_t>(FHiddenFifo, 1));
        }
        if (FLastDrain + perChar > Now) break;
        FWire.push_back({FOutput.front(), rts});
        FOutput.pop_front();
        --FFifo;
        FLastDrain += perChar;
        ++left;
    }
    if (FFifo == 0) FLastDrain = Now;
    if (left > 0 && CountedOutput() < WakeupChars) ++FOutputWakes;
    while (!FArriving.empty() && FArriving.front().first <= Now) {
        FInput.insert(FInput.end(), FArriving.front().second.begin(), FArriving.front().second.end());
        FArriving.pop_front();
        ++FInputWakes;
    }
}

void TModelPort::Deliver(std::vector<uint8_t> Bytes)
{
    if (Bytes.empty()) return;
    if (FKind == TPortKind::FtdiAdapter) {
        // The chip sends a short packet when its latency timer runs out.
        FArriving.emplace_back(TClock::now() + std::chrono::milliseconds(LatencyTimerMsLocked()), std::move(Bytes));
        return;
    }
    FInput.insert(FInput.end(), Bytes.begin(), Bytes.end());
    ++FInputWakes;
}

int TModelPort::LatencyTimerMsLocked() const
{
    return (FSerial.flags & ASYNC_LOW_LATENCY) ? 1 : 16;
}

// The line discipline in raw mode: a byte with a parity or framing error is
// dropped (IGNPAR), marked 0xFF 0x00 (PARMRK) or made a NUL; with PARMRK a
// real 0xFF comes doubled. The driver counts every error, checked or not.
void TModelPort::Send(const std::vector<uint8_t>& Bytes, TLineFlag Flag)
{
    std::lock_guard lock(FModel.FLock);
    Advance(TClock::now());
    const uint32_t i = FTermios.c_iflag;
    std::vector<uint8_t> queued;
    for (const uint8_t b : Bytes) {
        switch (Flag) {
        case TLineFlag::Normal:
            if ((i & PARMRK) && b == 0xFF) queued.push_back(0xFF);
            queued.push_back(b);
            break;
        case TLineFlag::Parity:
        case TLineFlag::Frame:
            ++(Flag == TLineFlag::Parity ? FCounters.parity : FCounters.frame);
            if (!(i & INPCK)) {
                queued.push_back(b);
            } else if (!(i & IGNPAR)) {
                if (i & PARMRK) queued.insert(queued.end(), {0xFF, 0x00});
                queued.push_back((i & PARMRK) ? b : 0);
            }
            break;
        case TLineFlag::Break:
            ++FCounters.brk;
            if (i & IGNBRK) break;
            if (i & PARMRK) queued.insert(queued.end(), {0xFF, 0x00});
            queued.push_back(0);
            break;
        }
    }
    Deliver(std::move(queued));
}

void TModelPort::SetInputLine(int TiocmLine, bool On)
{
    std::lock_guard lock(FModel.FLock);
    Advance(TClock::now());
    if (((FModemIn & TiocmLine) != 0) == On) return;
    FModemIn ^= TiocmLine;
    if (TiocmLine == TIOCM_CTS) ++FCounters.cts;
    if (TiocmLine == TIOCM_DSR) ++FCounters.dsr;
    if (TiocmLine == TIOCM_CD) ++FCounters.dcd;
    if (TiocmLine == TIOCM_RNG) ++FCounters.rng;
}

void TModelPort::PulseInputLine(int TiocmLine)
{
    std::lock_guard lock(FModel.FLock);
    if (TiocmLine == TIOCM_CTS) FCounters.cts += 2;
    if (TiocmLine == TIOCM_DSR) FCounters.dsr += 2;
    if (TiocmLine == TIOCM_CD) FCounters.dcd += 2;
    if (TiocmLine == TIOCM_RNG) ++FCounters.rng; // counted on one edge only
}

std::vector<TWireByte> TModelPort::Wire()
{
    std::lock_guard lock(FModel.FLock);
    Advance(TClock::now());
    return FWire;
}

termios2 TModelPort::Termios()
{
    std::lock_guard lock(FModel.FLock);
    return FTermios;
}

serial_rs485 TModelPort::Rs485()
{
    std::lock_guard lock(FModel.FLock);
    return FRs485;
}

void TModelPort::SetRs485(const serial_rs485& Value)
{
    std::lock_guard lock(FModel.FLock);
    FRs485 = Value;
}

bool TModelPort::LowLatency()
{
    std::lock_guard lock(FModel.FLock);
    return FSerial.flags & ASYNC_LOW_LATENCY;
}

int TModelPort::LatencyTimerMs()
{
    std::lock_guard lock(FModel.FLock);
    return LatencyTimerMsLocked();
}

int TModelPort::ModemOutputs()
{
    std::lock_guard lock(FModel.FLock);
    return FModemOut & (TIOCM_DTR | TIOCM_RTS);
}

int TModelPort::OpenFiles()
{
    std::lock_guard lock(FModel.FLock);
    return FOpenFiles;
}

size_t TModelPort::OutputQueued()
{
    std::lock_guard lock(FModel.FLock);
    Advance(TClock::now());
    return FOutput.size();
}

uint64_t TModelPort::Calls(unsigned long Request)
{
    std::lock_guard lock(FModel.FLock);
    return FCalls[Request];
}

uint64_t TModelPort::OutputWakes()
{
    std::lock_guard lock(FModel.FLock);
    Advance(TClock::now());
    return FOutputWakes;
}

uint64_t TModelPort::OutputWakesCollected()
{
    std::lock_guard lock(FModel.FLock);
    return FOutputWakesCollected;
}

// What each driver makes of a settings record: the UART divides its clock
// and names the speed it made; a driver that lacks a mode clears its flag.
int TModelPort::SetTermios(const termios2& Asked)
{
    termios2 t = Asked;
    uint32_t speed = (t.c_cflag & CBAUD) == BOTHER ? t.c_ospeed : StandardSpeed(t.c_cflag & CBAUD);
    if (speed == 0) return EINVAL;
    if (FKind == TPortKind::Uart) {
        const uint32_t top = UartClock / 16;
        const uint32_t divisor = std::max<uint32_t>(1, (top + speed / 2) / speed);
        speed = top / divisor;
    }
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= SpeedBits(speed);
    t.c_ispeed = t.c_ospeed = speed;
    if (!TakesCmspar) t.c_cflag &= ~CMSPAR;
    if (!TakesCstopb) t.c_cflag &= ~CSTOPB;
    if (!TakesCrtscts) t.c_cflag &= ~CRTSCTS;
    FTermios = t;
    return 0;
}

// --- the system calls ------------------------------------------------------

TKernelModel::TKernelModel() = default;

TKernelModel::~TKernelModel()
{
    for (const auto& [fd, file] : FFiles) ::close(fd);
}

TModelPort& TKernelModel::AddPort(const std::string& Path, TPortKind Kind)
{
    std::lock_guard lock(FLock);
    FPorts.push_back(std::unique_ptr<TModelPort>(new TModelPort(*this, Path, Kind)));
    return *FPorts.back();
}

void TKernelModel::HoldEvents(bool Hold)
{
    std::lock_guard lock(FLock);
    FHeld = Hold;
}

uint64_t TKernelModel::EventsCollected()
{
    std::lock_guard lock(FLock);
    return FCollected;
}

std::shared_ptr<TKernelModel::TFile> TKernelModel::FileOf(int Fd)
{
    const auto found = FFiles.find(Fd);
    return found == FFiles.end() ? nullptr : found->second;
}

void TKernelModel::AdvanceAll()
{
    const auto now = TClock::now();
    for (auto& port : FPorts) port->Advance(now);
}

void TKernelModel::Nap(std::vector<pollfd>& Foreign, int Ms)
{
    if (Foreign.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
        return;
    }
    ::poll(Foreign.data(), Foreign.size(), Ms);
}

int TKernelModel::Open(const char* Path, int /*Flags*/)
{
    std::lock_guard lock(FLock);
    for (auto& port : FPorts) {
        if (port->FPath != Path) continue;
        if (port->FExclusive) return Fail(EBUSY);
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        auto file = std::make_shared<TFile>();
        file->Id = FNextFileId++;
        file->Port = port.get();
        FFiles[fd] = file;
        ++port->FOpenFiles;
        return fd;
    }
    return Fail(ENOENT);
}

int TKernelModel::Close(int Fd)
{
    std::lock_guard lock(FLock);
    const auto file = FileOf(Fd);
    if (!file) return ::close(Fd);
    FFiles.erase(Fd);
    ::close(Fd);
    if (file->Port) {
        TModelPort& port = *file->Port;
        const bool lastOfFile = file.use_count() == 1;
        if (lastOfFile && port.FFlockOwner == file->Id) port.FFlockOwner = 0;
        if (--port.FOpenFiles == 0) {
            port.FExclusive = false;
            // The last close hangs up where the line says so.
            if (port.FTermios.c_cflag & HUPCL) port.FModemOut &= ~(TIOCM_DTR | TIOCM_RTS);
        }
    }
    return 0;
}

int TKernelModel::Dup(int Fd)
{
    std::lock_guard lock(FLock);
    const auto file = FileOf(Fd);
    if (!file) return ::fcntl(Fd, F_DUPFD_CLOEXEC, 0);
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    FFiles[fd] = file;
    if (file->Port) ++file->Port->FOpenFiles;
    return fd;
}

ssize_t TKernelModel::Read(int Fd, void* Buffer, size_t Count)
{
    std::unique_lock lock(FLock);
    const auto file = FileOf(Fd);
    if (!file) {
        lock.unlock();
        return ::read(Fd, Buffer, Count);
    }
    if (!file->Port) return Fail(EINVAL);
    TModelPort& port = *file->Port;
    port.Advance(TClock::now());
    if (port.FInput.empty()) return Fail(EAGAIN);
    const size_t n = std::min(Count, port.FInput.size());
    std::copy_n(port.FInput.begin(), n, static_cast<uint8_t*>(Buffer));
    port.FInput.erase(port.FInput.begin(), port.FInput.begin() + static_cast<ptrdiff_t>(n));
    return static_cast<ssize_t>(n);
}

ssize_t TKernelModel::Write(int Fd, const void* Buffer, size_t Count)
{
    std::unique_lock lock(FLock);
    const auto file = FileOf(Fd);
    if (!file) {
        lock.unlock();
        return ::write(Fd, Buffer, Count);
    }
    if (!file->Port) return Fail(EINVAL);
    TModelPort& port = *file->Port;
    port.Advance(TClock::now());
    const size_t room = TransmitQueue + port.FHiddenFifo - port.FOutput.size();
    const size_t n = std::min(Count, room);
    if (n == 0) return Fail(EAGAIN);
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    port.FOutput.insert(port.FOutput.end(), bytes, bytes + n);
    if (AfterWriteQueued) {
        lock.unlock();
        AfterWriteQueued();
    }
    return static_cast<ssize_t>(n);
}

int TKernelModel::Flock(int Fd, int Operation)
{
    std::lock_guard lock(FLock);
    const auto file = FileOf(Fd);
    if (!file || !file->Port) return Fail(EBADF);
    TModelPort& port = *file->Port;
    if (Operation & LOCK_UN) {
        if (port.FFlockOwner == file->Id) port.FFlockOwner = 0;
        return 0;
    }
    if (port.FFlockOwner != 0 && port.FFlockOwner != file->Id) return Fail(EWOULDBLOCK);
    port.FFlockOwner = file->Id;
    return 0;
}

int TKernelModel::Fstat(int Fd, struct stat* Stat)
{
    std::lock_guard lock(FLock);
    const auto file = FileOf(Fd);
    if (!file || !file->Port) return Fail(EBADF);
    *Stat = {};
    Stat->st_mode = S_IFCHR | 0660;
    const unsigned major = file->Port->FKind == TPortKind::Uart ? 4 : file->Port->FKind == TPortKind::FtdiAdapter ? 188 : 166;
    Stat->st_rdev = makedev(major, 0);
    return 0;
}

void TKernelModel::Interrupt(std::thread& Thread)
{
    std::lock_guard lock(FLock);
    FInterrupted.insert(Thread.get_id());
}

int TKernelModel::Ioctl(int Fd, unsigned long Request, void* Argument)
{
    std::unique_lock lock(FLock);
    const auto file = FileOf(Fd);
    if (!file || !file->Port) return Fail(file ? ENOTTY : EBADF);
    TModelPort& port = *file->Port;
    ++port.FCalls[Request];
    port.Advance(TClock::now());
    const int result = IoctlLocked(lock, port, *file, Request, Argument);
    return result == 0 ? 0 : Fail(result);
}

int TKernelModel::IoctlLocked(std::unique_lock<std::mutex>& Lock, TModelPort& Port, const TFile& File,
                              unsigned long Request, void* Argument)
{
    const TPortKind kind = Port.FKind;
    const bool uart = kind == TPortKind::Uart;
    const bool counted = kind != TPortKind::CdcAcm;
    const auto value = reinterpret_cast<uintptr_t>(Argument);
    switch (Request) {
    case TCGETS2:
        *static_cast<termios2*>(Argument) = Port.FTermios;
        return 0;
    case TCSETS2: {
        if (const int error = Port.SetTermios(*static_cast<const termios2*>(Argument))) return error;
        // The line discipline wakes readers and writers on every change.
        if (BeforeSettingsWake) {
            Lock.unlock();
            BeforeSettingsWake();
            Lock.lock();
        }
        // Writers first, without a key: an epoll entry waiting for input
        // hears that too, since the line's poll hooks it on both queues.
        if (!Port.FInput.empty()) ++Port.FInputWakes;
        ++Port.FOutputWakes;
        if (BetweenSettingsWakes) {
            Lock.unlock();
            BetweenSettingsWakes();
            Lock.lock();
        }
        if (!Port.FInput.empty()) ++Port.FInputWakes;
        return 0;
    }
    case TCFLSH:
        if (value == TCIFLUSH || value == TCIOFLUSH) {
            Port.FInput.clear();
            Port.FArriving.clear();
        }
        if (value == TCOFLUSH || value == TCIOFLUSH) {
            // What has reached the FIFO or the chip goes out all the same.
            while (Port.FOutput.size() > Port.FFifo) Port.FOutput.pop_back();
            ++Port.FOutputWakes;
        }
        return 0;
    case TIOCINQ:
        *static_cast<int*>(Argument) = static_cast<int>(Port.FInput.size());
        return 0;
    case TIOCOUTQ:
        *static_cast<int*>(Argument) = static_cast<int>(Port.CountedOutput());
        return 0;
    case TIOCSERGETLSR:
        if (!uart) return ENOTTY;
        *static_cast<unsigned*>(Argument) = Port.FOutput.empty() ? TIOCSER_TEMT : 0;
        return 0;
    case TIOCMGET:
        *static_cast<int*>(Argument) = Port.FModemOut | Port.FModemIn;
        return 0;
    case TIOCMBIS:
    case TIOCMBIC: {
        const int lines = *static_cast<const int*>(Argument) & (TIOCM_DTR | TIOCM_RTS);
        Port.FModemOut = Request == TIOCMBIS ? (Port.FModemOut | lines) : (Port.FModemOut & ~lines);
        return 0;
    }
    case TIOCGICOUNT:
        if (!counted) return ENOTTY;
        *static_cast<serial_icounter_struct*>(Argument) = Port.FCounters;
        return 0;
    case TIOCMIWAIT: {
        if (!counted) return ENOTTY;
        const serial_icounter_struct before = Port.FCounters;
        const auto self = std::this_thread::get_id();
        for (;;) {
            if (FInterrupted.erase(self)) return EINTR;
            const serial_icounter_struct& c = Port.FCounters;
            if (((value & TIOCM_CTS) && c.cts != before.cts) || ((value & TIOCM_DSR) && c.dsr != before.dsr) ||
                ((value & TIOCM_CD) && c.dcd != before.dcd) || ((value & TIOCM_RNG) && c.rng != before.rng))
                return 0;
            Lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Lock.lock();
        }
    }
    case TIOCGRS485:
        if (!uart) return ENOTTY;
        *static_cast<serial_rs485*>(Argument) = Port.FRs485;
        return 0;
    case TIOCSRS485:
        if (!uart) return ENOTTY;
        Port.FRs485 = *static_cast<const serial_rs485*>(Argument);
        return 0;
    case TIOCGSERIAL:
        if (kind == TPortKind::CdcAcm) return ENOTTY;
        *static_cast<serial_struct*>(Argument) = Port.FSerial;
        return 0;
    case TIOCSSERIAL:
        if (kind == TPortKind::CdcAcm) return ENOTTY;
        Port.FSerial.flags = static_cast<const serial_struct*>(Argument)->flags;
        return 0;
    case TIOCEXCL:
        Port.FExclusive = true;
        return 0;
    case TIOCNXCL:
        Port.FExclusive = false;
        return 0;
    default:
        (void)File;
        return ENOTTY;
    }
}

short TKernelModel::ModelEvents(const TFile& File)
{
    short events = 0;
    if (!File.Port) return 0;
    if (!File.Port->FInput.empty()) events |= POLLIN;
    if (File.Port->Writable()) events |= POLLOUT;
    return events;
}

int TKernelModel::Poll(pollfd* Fds, nfds_t Count, int TimeoutMs)
{
    const auto until = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        std::vector<pollfd> foreign;
        int ready = 0;
        {
            std::lock_guard lock(FLock);
            AdvanceAll();
            for (nfds_t i = 0; i < Count; ++i) {
                Fds[i].revents = 0;
                if (Fds[i].fd < 0) continue;
                const auto file = FileOf(Fds[i].fd);
                if (!file) {
                    foreign.push_back(Fds[i]);
                    continue;
                }
                Fds[i].revents = static_cast<short>(ModelEvents(*file) & Fds[i].events);
                if (Fds[i].revents) ++ready;
            }
        }
        if (!foreign.empty() && ::poll(foreign.data(), foreign.size(), 0) > 0) {
            for (const pollfd& f : foreign)
                for (nfds_t i = 0; i < Count; ++i)
                    if (Fds[i].fd == f.fd && f.revents) {
                        Fds[i].revents = f.revents;
                        ++ready;
                    }
        }
        if (ready > 0 || (TimeoutMs >= 0 && TClock::now() >= until)) return ready;
        Nap(foreign, 1);
    }
}

int TKernelModel::EpollCreate()
{
    std::lock_guard lock(FLock);
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    auto file = std::make_shared<TFile>();
    file->Id = FNextFileId++;
    file->IsEpoll = true;
    FFiles[fd] = file;
    return fd;
}

int TKernelModel::EpollCtl(int Epoll, int Op, int Fd, epoll_event* Event)
{
    std::lock_guard lock(FLock);
    const auto epoll = FileOf(Epoll);
    if (!epoll || !epoll->IsEpoll) return Fail(EBADF);
    if (Op == EPOLL_CTL_DEL) return epoll->Watches.erase(Fd) ? 0 : Fail(ENOENT);
    if (Op == EPOLL_CTL_ADD && epoll->Watches.count(Fd)) return Fail(EEXIST);
    TWatch watch;
    watch.Events = Event->events;
    watch.Data = Event->data;
    if (const auto file = FileOf(Fd); file && file->Port) {
        // Added while ready counts as one wake-up.
        watch.SeenIn = file->Port->FInputWakes - 1;
        watch.SeenOut = file->Port->FOutputWakes - 1;
    }
    epoll->Watches[Fd] = watch;
    return 0;
}

int TKernelModel::EpollWait(int Epoll, epoll_event* Events, int Max, int TimeoutMs)
{
    const auto until = TClock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        std::vector<pollfd> foreign;
        int n = 0;
        {
            std::lock_guard lock(FLock);
            const auto epoll = FileOf(Epoll);
            if (!epoll || !epoll->IsEpoll) return Fail(EBADF);
            AdvanceAll();
            for (auto& [fd, watch] : epoll->Watches) {
                const auto file = FileOf(fd);
                if (!file) {
                    foreign.push_back({fd, static_cast<short>(watch.Events & (EPOLLIN | EPOLLOUT)), 0});
                    continue;
                }
                if (FHeld || n >= Max) continue;
                const short level = ModelEvents(*file);
                uint32_t found = 0;
                const bool edge = watch.Events & EPOLLET;
                const TModelPort& port = *file->Port;
                if ((watch.Events & EPOLLIN) && (level & POLLIN) && (!edge || port.FInputWakes != watch.SeenIn))
                    found |= EPOLLIN;
                if ((watch.Events & EPOLLOUT) && (level & POLLOUT) && (!edge || port.FOutputWakes != watch.SeenOut))
                    found |= EPOLLOUT;
                // A wake-up while the condition did not hold reports nothing, later either.
                if (edge) {
                    if (watch.Events & EPOLLIN) watch.SeenIn = port.FInputWakes;
                    if (watch.Events & EPOLLOUT) watch.SeenOut = port.FOutputWakes;
                }
                if (found & EPOLLOUT) file->Port->FOutputWakesCollected = port.FOutputWakes;
                if (found) Events[n++] = {found, watch.Data};
            }
        }
        if (!foreign.empty() && ::poll(foreign.data(), foreign.size(), 0) > 0) {
            std::lock_guard lock(FLock);
            const auto epoll = FileOf(Epoll);
            for (const pollfd& f : foreign) {
                if (n >= Max || !f.revents) continue;
                const auto watch = epoll->Watches.find(f.fd);
                if (watch == epoll->Watches.end()) continue;
                Events[n++] = {static_cast<uint32_t>(f.revents & (POLLIN | POLLOUT)), watch->second.Data};
            }
        }
        if (n > 0) {
            std::lock_guard lock(FLock);
            ++FCollected;
            return n;
        }
        if (TimeoutMs >= 0 && TClock::now() >= until) return 0;
        Nap(foreign, 1);
    }
}

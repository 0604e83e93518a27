#pragma once
// A model of the kernel's side of serial lines, behind the serial line
// services' system-call seam: what no pseudo-terminal can show. Three kinds
// of port:
//  - a 16550-class UART on serial core: output drains at the line speed
//    through a 16-byte FIFO that TIOCOUTQ does not count, transmitter-empty
//    in the line status, RS-485 configuration, low-latency flag, error and
//    modem-line counters, TIOCMIWAIT; speeds are what its clock divides to;
//  - an FTDI-class USB adapter: no RS-485 mode and no line status, a 256-byte
//    buffer in the chip past the driver's queue, a latency timer (16 ms, 1 ms
//    in low-latency mode) before received bytes are handed on;
//  - a CDC-ACM port: modem lines but no counters and no TIOCMIWAIT.
// Every call runs under one lock; time is the real clock, so draining and
// delivery happen as the test runs. Descriptors are real numbers reserved on
// /dev/null, so they never clash with the real descriptors (eventfds) that
// the model passes through to the kernel.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <linux/serial.h>

#include "serial/platform/PosixSysCalls.h"

enum class TPortKind { Uart, FtdiAdapter, CdcAcm };

// How a byte came off the line.
enum class TLineFlag { Normal, Parity, Frame, Break };

struct TWireByte {
    uint8_t Byte = 0;
    bool RtsRaised = false; // RTS (or the driver's RS-485 direction) while it left
};

class TKernelModel;

class TModelPort {
public:
    // What the test sets before the port is opened.
    uint32_t UartClock = 1843200;
    bool TakesCmspar = true;
    bool TakesCstopb = true;
    bool TakesCrtscts = true;

    // The device's side.
    void Send(const std::vector<uint8_t>& Bytes, TLineFlag Flag = TLineFlag::Normal);
    void SetInputLine(int TiocmLine, bool On);
    // A change and its return, both counted, over before anyone looks.
    void PulseInputLine(int TiocmLine);
    // Bytes that have left on the line so far.
    std::vector<TWireByte> Wire();

    // The kernel's state.
    termios2 Termios();
    serial_rs485 Rs485();
    void SetRs485(const serial_rs485& Value); // as a board's set-up tool does
    bool LowLatency();
    int LatencyTimerMs();
    int ModemOutputs(); // TIOCM_DTR | TIOCM_RTS
    int OpenFiles();
    size_t OutputQueued(); // every byte not yet on the line
    uint64_t Calls(unsigned long Request);
    // Writers woken so far, and the last of those wake-ups an epoll wait
    // has collected.
    uint64_t OutputWakes();
    uint64_t OutputWakesCollected();

private:
    friend class TKernelModel;
    using TClock = std::chrono::steady_clock;
    TModelPort(TKernelModel& Model, std::string Path, TPortKind Kind);
    void Advance(TClock::time_point Now);
    void Deliver(std::vector<uint8_t> Bytes);
    std::chrono::nanoseconds CharacterTime() const;
    bool Holding() const;
    size_t CountedOutput() const;
    bool Writable() const;
    int SetTermios(const termios2& Asked);
    int LatencyTimerMsLocked() const;

    TKernelModel& FModel;
    std::string FPath;
    TPortKind FKind;
    termios2 FTermios{};
    int FModemOut = TIOCM_DTR | TIOCM_RTS;
    int FModemIn = 0;
    serial_icounter_struct FCounters{};
    serial_rs485 FRs485{};
    serial_struct FSerial{};
    size_t FHiddenFifo = 0;
    std::deque<uint8_t> FOutput;
    size_t FFifo = 0; // the front bytes of FOutput already in the FIFO
    TClock::time_point FLastDrain{};
    std::vector<TWireByte> FWire;
    std::deque<uint8_t> FInput;
    std::deque<std::pair<TClock::time_point, std::vector<uint8_t>>> FArriving;
    uint64_t FInputWakes = 0;
    uint64_t FOutputWakes = 0;
    bool FExclusive = false;
    int FFlockOwner = 0;
    int FOpenFiles = 0;
    std::map<unsigned long, uint64_t> FCalls;
    uint64_t FOutputWakesCollected = 0;
};

class TKernelModel final : public SerialPlatform::TSysCalls {
public:
    TKernelModel();
    ~TKernelModel() override;
    TKernelModel(const TKernelModel&) = delete;
    TKernelModel& operator=(const TKernelModel&) = delete;

    TModelPort& AddPort(const std::string& Path, TPortKind Kind);

    // While held, no epoll wait collects anything; then collected reports
    // are counted, so a test can order a wait between two other calls.
    void HoldEvents(bool Hold);
    uint64_t EventsCollected();
    // Run with the lock released, inside TCSETS2 just before the kernel
    // wakes the line's readers, and inside write() once the bytes are queued.
    std::function<void()> BeforeSettingsWake;
    // Run between TCSETS2's wake-up of the line's writers and of its readers.
    std::function<void()> BetweenSettingsWakes;
    std::function<void()> AfterWriteQueued;

    int Open(const char* Path, int Flags) override;
    int Close(int Fd) override;
    ssize_t Read(int Fd, void* Buffer, size_t Count) override;
    ssize_t Write(int Fd, const void* Buffer, size_t Count) override;
    int Ioctl(int Fd, unsigned long Request, void* Argument) override;
    int Poll(pollfd* Fds, nfds_t Count, int TimeoutMs) override;
    int EpollCreate() override;
    int EpollCtl(int Epoll, int Op, int Fd, epoll_event* Event) override;
    int EpollWait(int Epoll, epoll_event* Events, int Max, int TimeoutMs) override;
    int Dup(int Fd) override;
    int Flock(int Fd, int Operation) override;
    int Fstat(int Fd, struct stat* Stat) override;
    void Interrupt(std::thread& Thread) override;

private:
    friend class TModelPort;
    struct TWatch {
        uint32_t Events = 0;
        epoll_data_t Data{};
        uint64_t SeenIn = 0;
        uint64_t SeenOut = 0;
    };
    struct TFile {
        int Id = 0;
        TModelPort* Port = nullptr;
        bool IsEpoll = false;
        std::map<int, TWatch> Watches;
    };
    std::shared_ptr<TFile> FileOf(int Fd);
    void AdvanceAll();
    short ModelEvents(const TFile& File);
    int IoctlLocked(std::unique_lock<std::mutex>& Lock, TModelPort& Port, const TFile& File,
                    unsigned long Request, void* Argument);
    static void Nap(std::vector<pollfd>& Foreign, int Ms);

    std::mutex FLock;
    std::vector<std::unique_ptr<TModelPort>> FPorts;
    std::map<int, std::shared_ptr<TFile>> FFiles;
    int FNextFileId = 1;
    bool FHeld = false;
    uint64_t FCollected = 0;
    std::set<std::thread::id> FInterrupted;
};

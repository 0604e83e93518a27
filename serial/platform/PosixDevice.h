#pragma once
// An open serial line on Linux, in three files: PosixOpen.cpp (opening,
// settings, closing), PosixTransfer.cpp (reads, writes, purges and queries),
// PosixEventWait.cpp (the wait for line events and the modem-line helper).
// Every system call goes through TSysCalls.

#include "serial/platform/PosixSysCalls.h"
#include "serial/platform/PosixTermios.h"
#include "serial/platform/SerialPlatform.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <linux/serial.h>

namespace SerialPlatform {

// A descriptor closed through the system calls that made it.
class TFd {
public:
    TFd() = default;
    TFd(TSysCalls& Calls, int Fd) : FCalls(&Calls), FFd(Fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& Other) noexcept : FCalls(Other.FCalls), FFd(std::exchange(Other.FFd, -1)) {}
    TFd& operator=(TFd&& Other) noexcept
    {
        if (this != &Other) {
            Reset();
            FCalls = Other.FCalls;
            FFd = std::exchange(Other.FFd, -1);
        }
        return *this;
    }
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset()
    {
        if (FFd >= 0 && FCalls) FCalls->Close(FFd);
        FFd = -1;
    }

private:
    TSysCalls* FCalls = nullptr;
    int FFd = -1;
};

// A UUCP lock file ("LCK..ttyUSB0") held while the line is open, as the
// terminal programs run beside this one expect.
class TUucpLock {
public:
    TUucpLock() = default;
    ~TUucpLock();
    TUucpLock(const TUucpLock&) = delete;
    TUucpLock& operator=(const TUucpLock&) = delete;
    TUucpLock(TUucpLock&& Other) noexcept : FPath(std::exchange(Other.FPath, {})) {}
    // 0, or ErrorAccessDenied when a live process holds the line. A stale
    // lock (its process is gone) is replaced; a folder this process cannot
    // write is no refusal, just no lock.
    int Acquire(const std::string& Folder, const std::string& DevicePath);
    // The lock file's name for a device path.
    static std::string FileName(const std::string& DevicePath);

private:
    std::string FPath;
};

// "This kind of port does not have it": a query the driver cannot answer.
bool NotSupported(int Error);

// What opening found and changed, for the device to put back at close.
struct TOpenedLine {
    TFd Fd;
    TUucpLock Lock;
    TKernelTermios Found{};
    bool PseudoTerminal = false;
    bool LowLatencySet = false;
};

class TPosixDevice final : public TDevice {
public:
    TPosixDevice(TSysCalls& Calls, TOpenedLine Line);
    ~TPosixDevice() override;

    uintptr_t Handle() const override { return static_cast<uintptr_t>(FFd.Get()); }
    int SetupComm(int32_t InQueue, int32_t OutQueue) override;
    int SetCommState(const TLineSettings& Settings) override;
    int SetCommTimeouts(const TCommTimeouts& Timeouts) override;
    int StartWrite(TTransfer& Transfer, std::span<const uint8_t> Data) override;
    int StartRead(TTransfer& Transfer, std::span<uint8_t> Buffer) override;
    int FinishTransfer(TTransfer& Transfer, uint32_t& Moved) override;
    int Purge(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, TComStat& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped) override;

private:
    // Settings.
    int SetRts(const TLineSettings& s);
    int SetModemLine(int Line, bool On);
    void RestoreLine();

    // Transfers.
    void BeginTransfer(TTransfer& Transfer, bool IsWrite);
    int ReadMore(TTransfer& Transfer);
    bool HungUp();
    int WriteMore(TTransfer& Transfer);
    // Whether the bytes written have left the line; if not, how long to
    // wait before asking again.
    bool OutputGone(TTransfer& Transfer, std::chrono::microseconds& Wait);
    // A write ends: bytes still queued count as unsent and are taken off
    // the line, and RTS drops when this side raised it for the write.
    void EndWrite(TTransfer& Transfer, bool Complete);
    std::chrono::microseconds CharacterTime() const;
    size_t FilterInput(std::span<uint8_t> Bytes);
    bool Filtering() const { return FDiscardNull || FMarkedErrors; }
    size_t TakeKept(std::span<uint8_t> Into);
    void KeepWaitingInput();
    void ForgetSettingsWakeups();
    int WaitForTransfer(TTransfer& Transfer, short Events, int TimeoutMs);

    // Event wait.
    bool OnlySettingsWakeup();
    uint32_t NewLineErrors();
    void StartLineWatcher();
    void StopLineWatcher();
    struct TLineState {
        int Lines = 0;
        serial_icounter_struct Counters{};
        bool Counted = false;
    };
    void WatchLines(TLineState State);
    void PollLines(int Lines);
    void ReportLineEvents(uint32_t Events);

    TSysCalls& FCalls;
    TFd FFd;
    TUucpLock FLock;
    // The line's settings when it was opened, put back at close.
    TKernelTermios FFound{};
    TKernelTermios FTermios{};
    bool FPseudoTerminal = false;
    bool FLowLatencySet = false;
    // Until the driver says it has no line status to give.
    std::atomic<bool> FHasLineStatus{true};
    // The driver's RS-485 configuration as found, while this side changed it.
    bool FRs485Changed = false;
    serial_rs485 FRs485Found{};
    // RTS on while sending, done here where the driver has no RS-485 mode.
    bool FUserRtsToggle = false;

    // The same line once more, watched for output only: a wake-up on the
    // output side must not report unread input again.
    TFd FOutputFd;
    TFd FEpoll;
    TFd FMaskChanged;
    TFd FLineChanged;
    int FRegisteredStop = -1;
    std::atomic<uint32_t> FMask{0};
    TCommTimeouts FTimeouts{};

    // Input as a read delivers it: NULs dropped (DiscardNull), parity-error
    // marks taken off and the byte kept or replaced. While a filter is on,
    // the query takes the input off the line, and reads deliver these bytes
    // first.
    std::atomic<bool> FDiscardNull{false};
    std::atomic<bool> FMarkedErrors{false};
    std::atomic<bool> FReplaceErrors{false};
    std::atomic<uint8_t> FErrorChar{0};
    std::mutex FKeptLock;
    std::vector<uint8_t> FKept;
    int FMarkState = 0; // 0xFF seen (1), 0xFF 0x00 seen (2); under FKeptLock

    std::atomic<int32_t> FInQueue{0};
    // Applying settings while bytes sit unread makes the kernel wake the
    // line's waiters again, which is no arrival: how many such wake-ups may
    // still be reported, and how many bytes were waiting then. Reads, purges
    // and new bytes end them; one left over (two wake-ups reported as one)
    // can only ever match a report that brings no new byte.
    std::mutex FSettingsLock;
    int FSettingsWakeups = 0;
    int FUnreadAtSettings = -1;
    // Something was written since the output was last reported empty.
    std::atomic<bool> FWrote{false};

    // Error counters: FCounters as last reported by ClearCommError,
    // FEventCounters as last turned into events by the wait.
    std::mutex FCountersLock;
    serial_icounter_struct FCounters{};
    serial_icounter_struct FEventCounters{};
    bool FHaveCounters = false;

    // Transfers waiting in FinishTransfer, woken by an abort.
    std::mutex FWaitingLock;
    std::vector<TTransfer*> FWaiting;
    std::atomic<uint64_t> FAbortGeneration{0};

    // Where the driver has modem lines, a helper waits for them to change
    // and reports the change to the event wait.
    std::thread FLineWatcher;
    TFd FLineWatcherStop;
    std::atomic<bool> FLineWatcherStopping{false};
    std::atomic<bool> FLineWatcherDone{false};
    std::atomic<uint32_t> FLineEvents{0};
};

} // namespace SerialPlatform

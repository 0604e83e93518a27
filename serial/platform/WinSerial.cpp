// The serial line services on Windows: the kernel32 communications calls on
// a port opened for overlapped I/O, one call for each operation of the seam.

#include "serial/platform/SerialPlatform.h"

#include <windows.h>

#include "runtime/WideText.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace SerialPlatform {

namespace {

static_assert(sizeof(TSignalHandle) == sizeof(HANDLE));
static_assert(ErrorIoPending == ERROR_IO_PENDING);
static_assert(EV_RXCHAR == 0x0001 && EV_RX80FULL == 0x0400 && CE_RXOVER == 0x0001 && MS_CTS_ON == 0x0010 &&
              PURGE_RXCLEAR == 0x0008);

int LastError()
{
    return static_cast<int>(::GetLastError());
}

// A manual-reset event object.
class TEvent {
public:
    explicit TEvent(bool InitiallySet) : FHandle(::CreateEventW(nullptr, TRUE, InitiallySet, nullptr)) {}
    ~TEvent()
    {
        if (FHandle) ::CloseHandle(FHandle);
    }
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

class TOverlappedRecord;

// The transfers under way on one device, which an abort ends. Shared with
// the records, which may outlive the device.
struct TPendingTransfers {
    std::mutex Lock;
    std::vector<TOverlappedRecord*> Records;

    void Add(TOverlappedRecord* Record)
    {
        std::lock_guard lock(Lock);
        Records.push_back(Record);
    }
    void Remove(TOverlappedRecord* Record)
    {
        std::lock_guard lock(Lock);
        Records.erase(std::remove(Records.begin(), Records.end(), Record), Records.end());
    }
};

// The overlapped record of one read or write, kept in the transfer while the
// system may still write to it.
class TOverlappedRecord {
public:
    TOverlappedRecord() : FEvent(false) { Overlapped.hEvent = FEvent.Get(); }
    ~TOverlappedRecord()
    {
        // The system writes into the record and the buffer until the transfer
        // has ended; it must not outlive them.
        if (!HasOverlappedIoCompleted(&Overlapped)) {
            ::CancelIoEx(FFile, &Overlapped);
            ::WaitForSingleObject(FEvent.Get(), INFINITE);
        }
        if (const auto pending = FPending.lock()) pending->Remove(this);
    }
    TOverlappedRecord(const TOverlappedRecord&) = delete;
    TOverlappedRecord& operator=(const TOverlappedRecord&) = delete;

    // Clears the record for the next transfer, on the device of File.
    bool Reset(HANDLE File, const std::shared_ptr<TPendingTransfers>& Pending, bool Write)
    {
        FFile = File;
        FPending = Pending;
        IsWrite = Write;
        Overlapped = OVERLAPPED{};
        Overlapped.hEvent = FEvent.Get();
        return FEvent.Get() != nullptr;
    }

    OVERLAPPED Overlapped{};
    bool IsWrite = false;

private:
    HANDLE FFile = INVALID_HANDLE_VALUE;
    std::weak_ptr<TPendingTransfers> FPending;
    TEvent FEvent;
};

// Events of the modem lines and the line's error flags.
constexpr uint32_t LineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;

class TWinDevice final : public TDevice {
public:
    explicit TWinDevice(HANDLE File) : FFile(File), FWaitEvent(true) {}
    ~TWinDevice() override;

    uintptr_t Handle() const override { return reinterpret_cast<uintptr_t>(FFile); }
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
    TOverlappedRecord* BeginTransfer(TTransfer& Transfer, bool IsWrite);
    int Started(TTransfer& Transfer, TOverlappedRecord& Record, BOOL Result);
    bool ReturnsAtOnce() const;

    HANDLE FFile;
    std::atomic<uint32_t> FMask{0};
    // The events the driver is asked to watch: the mask, or its part that
    // the driver can watch. Changed by the waiting thread.
    std::atomic<uint32_t> FWatched{0};
    // Set by SetCommTimeouts; read by the thread that finishes a transfer.
    std::atomic<bool> FReadsReturnAtOnce{false};
    std::shared_ptr<TPendingTransfers> FPending = std::make_shared<TPendingTransfers>();
    // The wait for line events. A wait that a stop interrupted stays
    // outstanding and is taken up by the next call, so no event between two
    // calls is lost.
    TEvent FWaitEvent;
    OVERLAPPED FWaitOverlapped{};
    DWORD FWaitMask = 0;
    bool FWaitPending = false;
};

TWinDevice::~TWinDevice()
{
    if (FWaitPending) {
        // Mask 0 ends the outstanding wait; the record must not go before it.
        ::SetCommMask(FFile, 0);
        ::CancelIoEx(FFile, &FWaitOverlapped);
        ::WaitForSingleObject(FWaitEvent.Get(), INFINITE);
    }
    ::CloseHandle(FFile);
}

int TWinDevice::SetupComm(int32_t InQueue, int32_t OutQueue)
{
    return ::SetupComm(FFile, static_cast<DWORD>(InQueue), static_cast<DWORD>(OutQueue)) ? 0 : LastError();
}

int TWinDevice::SetCommState(const TLineSettings& s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.BaudRate;
    dcb.fBinary = s.fBinary;
    dcb.fParity = s.fParity;
    dcb.fOutxCtsFlow = s.fOutxCtsFlow;
    dcb.fOutxDsrFlow = s.fOutxDsrFlow;
    dcb.fDtrControl = s.fDtrControl;
    dcb.fDsrSensitivity = s.fDsrSensitivity;
    dcb.fTXContinueOnXoff = s.fTXContinueOnXoff;
    dcb.fOutX = s.fOutX;
    dcb.fInX = s.fInX;
    dcb.fErrorChar = s.fErrorChar;
    dcb.fNull = s.fNull;
    dcb.fRtsControl = s.fRtsControl;
    dcb.fAbortOnError = s.fAbortOnError;
    dcb.XonLim = s.XonLim;
    dcb.XoffLim = s.XoffLim;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.XonChar = static_cast<char>(s.XonChar);
    dcb.XoffChar = static_cast<char>(s.XoffChar);
    dcb.ErrorChar = static_cast<char>(s.ErrorChar);
    dcb.EvtChar = static_cast<char>(s.EvtChar);
    return ::SetCommState(FFile, &dcb) ? 0 : LastError();
}

int TWinDevice::SetCommTimeouts(const TCommTimeouts& t)
{
    FReadsReturnAtOnce = t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = t.ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(FFile, &timeouts) ? 0 : LastError();
}

TOverlappedRecord* TWinDevice::BeginTransfer(TTransfer& t, bool IsWrite)
{
    t.IsWrite = IsWrite;
    t.Done = 0;
    t.Error = 0;
    t.Pending = false;
    if (!t.SystemRecord) t.SystemRecord = std::make_shared<TOverlappedRecord>();
    auto* record = static_cast<TOverlappedRecord*>(t.SystemRecord.get());
    if (!record->Reset(FFile, FPending, IsWrite)) {
        t.Error = LastError();
        return nullptr;
    }
    t.Signal = record->Overlapped.hEvent;
    return record;
}

// The outcome of ReadFile or WriteFile: done at once, under way, or failed.
int TWinDevice::Started(TTransfer& t, TOverlappedRecord& Record, BOOL Result)
{
    if (!Result) {
        const int error = LastError();
        if (error == ERROR_IO_PENDING) {
            t.Pending = true;
            FPending->Add(&Record);
            return ErrorIoPending;
        }
        return t.Error = error;
    }
    DWORD moved = 0;
    if (!::GetOverlappedResult(FFile, &Record.Overlapped, &moved, FALSE)) return t.Error = LastError();
    t.Done = moved;
    return 0;
}

int TWinDevice::StartWrite(TTransfer& t, std::span<const uint8_t> Data)
{
    TOverlappedRecord* record = BeginTransfer(t, true);
    if (!record) return t.Error;
    t.WriteFrom = Data;
    const BOOL result =
        ::WriteFile(FFile, Data.data(), static_cast<DWORD>(Data.size()), nullptr, &record->Overlapped);
    return Started(t, *record, result);
}

int TWinDevice::StartRead(TTransfer& t, std::span<uint8_t> Buffer)
{
    TOverlappedRecord* record = BeginTransfer(t, false);
    if (!record) return t.Error;
    t.ReadInto = Buffer;
    const BOOL result =
        ::ReadFile(FFile, Buffer.data(), static_cast<DWORD>(Buffer.size()), nullptr, &record->Overlapped);
    return Started(t, *record, result);
}

bool TWinDevice::ReturnsAtOnce() const
{
    return FReadsReturnAtOnce.load();
}

int TWinDevice::FinishTransfer(TTransfer& t, uint32_t& Moved)
{
    if (t.Pending) {
        auto* record = static_cast<TOverlappedRecord*>(t.SystemRecord.get());
        // The driver ends the transfer when the time-outs say so, or when a
        // purge aborts it. A read that should have returned at once but
        // waits for input (wine's driver does so on an empty queue) is
        // given a moment, then ended with what it has.
        bool cut = false;
        if (!t.IsWrite && ReturnsAtOnce() && ::WaitForSingleObject(record->Overlapped.hEvent, 50) == WAIT_TIMEOUT) {
            ::CancelIoEx(FFile, &record->Overlapped);
            cut = true;
        }
        ::WaitForSingleObject(record->Overlapped.hEvent, INFINITE);
        FPending->Remove(record);
        DWORD moved = 0;
        if (::GetOverlappedResult(FFile, &record->Overlapped, &moved, FALSE))
            t.Done = moved;
        else if (const int error = LastError(); cut && error == ERROR_OPERATION_ABORTED)
            t.Done = moved;
        else
            t.Error = error;
        t.Pending = false;
    }
    Moved = static_cast<uint32_t>(t.Done);
    return t.Error;
}

int TWinDevice::Purge(uint32_t Flags)
{
    if (!::PurgeComm(FFile, Flags)) return LastError();
    if (Flags & (PURGE_TXABORT | PURGE_RXABORT)) {
        // The driver ends them; one that does not (wine's) is made to.
        std::lock_guard lock(FPending->Lock);
        for (TOverlappedRecord* record : FPending->Records) {
            if (record->IsWrite ? (Flags & PURGE_TXABORT) : (Flags & PURGE_RXABORT))
                ::CancelIoEx(FFile, &record->Overlapped);
        }
    }
    return 0;
}

int TWinDevice::ClearCommError(uint32_t& Errors, TComStat& Stat)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(FFile, &errors, &stat)) return LastError();
    Errors = errors;
    Stat.cbInQue = stat.cbInQue;
    Stat.cbOutQue = stat.cbOutQue;
    return 0;
}

int TWinDevice::GetCommModemStatus(uint32_t& Status)
{
    DWORD status = 0;
    Status = 0;
    if (!::GetCommModemStatus(FFile, &status)) {
        // A port without modem lines (a virtual one; wine's pseudo-terminal)
        // has none on; that is no failure.
        const int error = LastError();
        return error == ERROR_NOT_SUPPORTED ? 0 : error;
    }
    Status = status;
    return 0;
}

int TWinDevice::SetCommMask(uint32_t Mask)
{
    FMask = Mask;
    FWatched = Mask;
    return ::SetCommMask(FFile, Mask) ? 0 : LastError();
}

int TWinDevice::WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped)
{
    Mask = 0;
    Stopped = false;
    for (;;) {
        if (!FWaitPending) {
            FWaitOverlapped = OVERLAPPED{};
            FWaitOverlapped.hEvent = FWaitEvent.Get();
            FWaitMask = 0;
            ::ResetEvent(FWaitEvent.Get());
            if (::WaitCommEvent(FFile, &FWaitMask, &FWaitOverlapped)) {
                Mask = FWaitMask;
                return 0;
            }
            const int error = LastError();
            // A port that cannot watch its modem lines and error flags (a
            // virtual one; wine's pseudo-terminal) refuses every wait that
            // asks for them: it is asked for the rest.
            if (error == ERROR_NOT_SUPPORTED && (FWatched & LineEvents) && (FWatched & ~LineEvents)) {
                FWatched &= ~LineEvents;
                if (!::SetCommMask(FFile, FWatched)) return LastError();
                continue;
            }
            // A wait that cannot start fails here rather than being waited for.
            if (error != ERROR_IO_PENDING) return error;
            FWaitPending = true;
        }
        // The stop comes first: when both are set, it wins.
        const HANDLE signals[2] = {Stop.Handle(), FWaitEvent.Get()};
        const DWORD which = ::WaitForMultipleObjects(2, signals, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            Stopped = true;
            return 0;
        }
        if (which != WAIT_OBJECT_0 + 1) return LastError();
        FWaitPending = false;
        DWORD unused = 0;
        if (::GetOverlappedResult(FFile, &FWaitOverlapped, &unused, FALSE)) {
            Mask = FWaitMask;
            return 0;
        }
        int error = LastError();
        // Wine may wake the wait through the signal of the one it cut short
        // before, and then leave this one hanging: it is cancelled, collected
        // and, like one cut short, started again.
        if (error == ERROR_IO_INCOMPLETE) {
            ::CancelIoEx(FFile, &FWaitOverlapped);
            DWORD cancelled = 0;
            if (::GetOverlappedResultEx(FFile, &FWaitOverlapped, &cancelled, 1000, FALSE)) {
                Mask = FWaitMask;
                return 0;
            }
            error = LastError();
            if (error == WAIT_TIMEOUT) return ERROR_IO_INCOMPLETE;
        }
        // Mask 0 ends the wait; so does this device's own close.
        if (FMask.load() == 0) return 0;
        if (error != ERROR_OPERATION_ABORTED) return error;
        // A wait the driver cut short for no reason of ours (wine's does so
        // on a pseudo-terminal until input is queued) is started again,
        // after a pause that keeps it from spinning. A device that has gone
        // refuses the new start.
        if (::WaitForSingleObject(Stop.Handle(), 2) == WAIT_OBJECT_0) {
            Stopped = true;
            return 0;
        }
    }
}

class TWinPlatform final : public TPlatform {
public:
    int OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device) override;
    std::string ErrorText(int Error) const override;
};

int TWinPlatform::OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device)
{
    // The device namespace reaches COM10 and above too, and no file of the
    // working folder can be mistaken for a port.
    const std::wstring path = L"\\\\.\\" + Utf8ToWide(Name);
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    Device = std::make_unique<TWinDevice>(file);
    return 0;
}

std::string TWinPlatform::ErrorText(int Error) const
{
    wchar_t buffer[512];
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(Error), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring_view text(buffer, length);
    // The system's texts end in a line break.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.remove_suffix(1);
    if (text.empty()) return "Error " + std::to_string(Error);
    return WideToUtf8(text);
}

} // namespace

TTransfer::~TTransfer() = default;

TStopSignal::TStopSignal() : FHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TStopSignal::~TStopSignal()
{
    if (FHandle) ::CloseHandle(FHandle);
}

void TStopSignal::Set()
{
    ::SetEvent(FHandle);
}

bool TStopSignal::IsSet() const
{
    return ::WaitForSingleObject(FHandle, 0) == WAIT_OBJECT_0;
}

TPlatform& TPlatform::System()
{
    static TWinPlatform platform;
    return platform;
}

} // namespace SerialPlatform

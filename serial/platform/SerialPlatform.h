#pragma once
// The serial line services the port component needs of the operating
// system, and nothing more: an exclusive open by name, line settings, queue
// sizes and time-outs, reads and writes that may wait, their abort, queue
// clears, and the queries of the queues, the error flags and the modem
// lines. Every call returns 0 or the system's error number; the component
// turns a failure into its own error. No system header is needed to use it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace SerialPlatform {

// Returned by a transfer that could not finish at once.
inline constexpr int ErrorIoPending = 997;
// System error numbers the component relies on for a refused open.
inline constexpr int ErrorNoSuchPort = 2;
inline constexpr int ErrorAccessDenied = 5;

inline constexpr uint32_t MaxDword = 0xFFFFFFFFu;

// The line-settings record.
struct TLineSettings {
    uint32_t BaudRate = 0;
    bool fBinary = true;
    bool fParity = false;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    uint8_t fDtrControl = 0; // 0 off, 1 on, 2 handshake
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fOutX = false;
    bool fInX = false;
    bool fErrorChar = false;
    bool fNull = false;
    uint8_t fRtsControl = 0; // 0 off, 1 on, 2 handshake, 3 on while sending
    bool fAbortOnError = false;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
    uint8_t ErrorChar = 0;
    uint8_t EvtChar = 0;

    bool operator==(const TLineSettings&) const = default;
};

// Milliseconds; MaxDword in ReadIntervalTimeout with both read totals 0
// makes a read return at once with what has arrived.
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const TCommTimeouts&) const = default;
};

struct TComStat {
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// The flags, purge requests and events below have the values of the Windows
// names they carry. Where <windows.h> came first those names are its macros;
// use them unqualified (using namespace SerialPlatform) to work either way.

// Line error flags.
#ifndef CE_RXOVER
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_MODE = 0x8000;
#endif

// Modem input lines.
#ifndef MS_CTS_ON
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;
#endif

#ifndef PURGE_TXABORT
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;
#endif

// Line events.
#ifndef EV_RXCHAR
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
#endif

// The system's handle of a signal one thread sets and another waits for: an
// event object's HANDLE on Windows, a descriptor elsewhere.
#ifdef _WIN32
using TSignalHandle = void*;
inline const TSignalHandle NoSignal = nullptr;
#else
using TSignalHandle = int;
inline constexpr TSignalHandle NoSignal = -1;
#endif

// One read or write in progress. The device fills it in; it lives in the
// caller's transfer record and is released with it.
class TTransfer {
public:
    TTransfer() = default;
    ~TTransfer();
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;

    // State owned by the device that runs the transfer.
    bool Pending = false;
    bool IsWrite = false;
    std::span<uint8_t> ReadInto;
    std::span<const uint8_t> WriteFrom;
    size_t Done = 0;
    int Error = 0;
    uint64_t AbortGeneration = 0;
    bool HasDeadline = false;
    std::chrono::steady_clock::time_point Deadline;
    // The wake-up signal of a waiting transfer, made only when it has to wait.
    TSignalHandle Signal = NoSignal;
    // What the system keeps of the transfer while it runs, where it keeps a
    // record of its own; made by the device.
    std::shared_ptr<void> SystemRecord;
};

// Stops a wait for line events from another thread.
class TStopSignal {
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;
    void Set();
    bool IsSet() const;
    TSignalHandle Handle() const { return FHandle; }
    bool Valid() const { return FHandle != NoSignal; }

private:
    TSignalHandle FHandle = NoSignal;
};

// An open device; destroying it closes it.
class TDevice {
public:
    virtual ~TDevice() = default;
    // The system's handle of the device.
    virtual uintptr_t Handle() const = 0;
    virtual int SetupComm(int32_t InQueue, int32_t OutQueue) = 0;
    virtual int SetCommState(const TLineSettings& Settings) = 0;
    virtual int SetCommTimeouts(const TCommTimeouts& Timeouts) = 0;
    // Start a transfer: 0 when it finished at once, ErrorIoPending when it
    // has to wait, any other number when it could not be started.
    virtual int StartWrite(TTransfer& Transfer, std::span<const uint8_t> Data) = 0;
    virtual int StartRead(TTransfer& Transfer, std::span<uint8_t> Buffer) = 0;
    // Waits as long as the time-outs allow; Moved gets the bytes moved.
    virtual int FinishTransfer(TTransfer& Transfer, uint32_t& Moved) = 0;
    virtual int Purge(uint32_t Flags) = 0;
    // The error flags since the last call, and the queue lengths.
    virtual int ClearCommError(uint32_t& Errors, TComStat& Stat) = 0;
    virtual int GetCommModemStatus(uint32_t& Status) = 0;
    // The events a wait reports; 0 also ends a wait in progress.
    virtual int SetCommMask(uint32_t Mask) = 0;
    // Waits until one of the events of the mask happens (reported in Mask)
    // or Stop is set (Stopped). Events between two waits are reported by the
    // next one. A failed wait returns the error number.
    virtual int WaitCommEvent(uint32_t& Mask, const TStopSignal& Stop, bool& Stopped) = 0;
};

class TPlatform {
public:
    virtual ~TPlatform() = default;
    // Exclusive open by name: ErrorNoSuchPort when there is no such port,
    // ErrorAccessDenied when another opener holds it.
    virtual int OpenDevice(const std::string& Name, std::unique_ptr<TDevice>& Device) = 0;
    // The system's text for an error number.
    virtual std::string ErrorText(int Error) const = 0;

    // The platform of this system.
    static TPlatform& System();
};

} // namespace SerialPlatform

#include "serial/ComPort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "runtime/CodePage.h"
#include "runtime/ExceptionDisplay.h"
#include "serial/ComText.h"
#include "serial/ComThread.h"

using namespace SerialPlatform;

namespace {

// The system's error number for an operation on a port that is not open.
constexpr int ErrorBadHandle = 9;

struct TEventBit {
    TComEvent Event;
    uint32_t Mask;
};
constexpr TEventBit EventBits[] = {
    {TComEvent::evRxChar, EV_RXCHAR}, {TComEvent::evTxEmpty, EV_TXEMPTY}, {TComEvent::evRxFlag, EV_RXFLAG},
    {TComEvent::evRing, EV_RING},     {TComEvent::evBreak, EV_BREAK},     {TComEvent::evCTS, EV_CTS},
    {TComEvent::evDSR, EV_DSR},       {TComEvent::evError, EV_ERR},       {TComEvent::evRLSD, EV_RLSD},
    {TComEvent::evRx80Full, EV_RX80FULL}};

uint32_t Bits32(int32_t Value)
{
    return static_cast<uint32_t>(Value);
}

} // namespace

uint32_t EventsToMask(TComEvents Events)
{
    uint32_t mask = 0;
    for (const TEventBit& e : EventBits)
        if (Events.Contains(e.Event)) mask |= e.Mask;
    return mask;
}

TComEvents MaskToEvents(uint32_t Mask)
{
    TComEvents events;
    for (const TEventBit& e : EventBits)
        if (Mask & e.Mask) events.Include(e.Event);
    return events;
}

// --- transfer records --------------------------------------------------------

void CreateAsyncRecord(PAsync& AsyncPtr)
{
    AsyncPtr = std::make_unique<TAsync>();
}

void FreeAsyncRecord(PAsync& AsyncPtr)
{
    AsyncPtr.reset();
}

void FillAsyncRecord(TOperationKind Kind, const void* Buffer, int32_t Count, PAsync& AsyncPtr)
{
    AsyncPtr->Kind = Kind;
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    AsyncPtr->Data.assign(bytes, bytes + std::max(Count, 0));
    AsyncPtr->Size = std::max(Count, 0);
}

// --- settings groups ---------------------------------------------------------

void TComParity::Assign(const TPersistent& Source)
{
    const auto* other = dynamic_cast<const TComParity*>(&Source);
    if (!other) AssignError(Source);
    FBits = other->FBits;
    FCheck = other->FCheck;
    FReplace = other->FReplace;
    FReplaceChar = other->FReplaceChar;
}

void TComParity::Changed()
{
    if (FComPort) FComPort->ApplyLineSettings();
}

void TComParity::SetBits(TParityBits Value)
{
    if (Value == FBits) return;
    FBits = Value;
    Changed();
}

void TComParity::SetCheck(bool Value)
{
    if (Value == FCheck) return;
    FCheck = Value;
    Changed();
}

void TComParity::SetReplace(bool Value)
{
    if (Value == FReplace) return;
    FReplace = Value;
    Changed();
}

void TComParity::SetReplaceChar(char16_t Value)
{
    if (Value == FReplaceChar) return;
    FReplaceChar = Value;
    Changed();
}

void TComFlowControl::Assign(const TPersistent& Source)
{
    const auto* other = dynamic_cast<const TComFlowControl*>(&Source);
    if (!other) AssignError(Source);
    TCustomComPort* port = FComPort;
    *this = *other;
    FComPort = port;
}

template <typename T>
void TComFlowControl::Set(T& Field, T Value)
{
    if (Value == Field) return;
    Field = Value;
    if (FComPort) FComPort->ApplyLineSettings();
}

void TComFlowControl::SetOutCTSFlow(bool Value) { Set(FOutCTSFlow, Value); }
void TComFlowControl::SetOutDSRFlow(bool Value) { Set(FOutDSRFlow, Value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) { Set(FControlDTR, Value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) { Set(FControlRTS, Value); }
void TComFlowControl::SetXonXoffOut(bool Value) { Set(FXonXoffOut, Value); }
void TComFlowControl::SetXonXoffIn(bool Value) { Set(FXonXoffIn, Value); }
void TComFlowControl::SetDSRSensitivity(bool Value) { Set(FDSRSensitivity, Value); }
void TComFlowControl::SetTxContinueOnXoff(bool Value) { Set(FTxContinueOnXoff, Value); }
void TComFlowControl::SetXonChar(char16_t Value) { Set(FXonChar, Value); }
void TComFlowControl::SetXoffChar(char16_t Value) { Set(FXoffChar, Value); }

TFlowControl TComFlowControl::FlowControl() const
{
    using enum TRTSFlowControl;
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) return TFlowControl::fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut) return TFlowControl::fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut) return TFlowControl::fcNone;
    return TFlowControl::fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl Value)
{
    if (Value != TFlowControl::fcCustom) {
        FControlRTS = TRTSFlowControl::rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
        if (Value == TFlowControl::fcHardware) {
            FControlRTS = TRTSFlowControl::rtsHandshake;
            FOutCTSFlow = true;
        } else if (Value == TFlowControl::fcSoftware) {
            FXonXoffIn = true;
            FXonXoffOut = true;
        }
    }
    if (FComPort) FComPort->ApplyLineSettings();
}

void TComTimeouts::Assign(const TPersistent& Source)
{
    const auto* other = dynamic_cast<const TComTimeouts*>(&Source);
    if (!other) AssignError(Source);
    FReadInterval = other->FReadInterval;
    FReadTotalM = other->FReadTotalM;
    FReadTotalC = other->FReadTotalC;
    FWriteTotalM = other->FWriteTotalM;
    FWriteTotalC = other->FWriteTotalC;
}

void TComTimeouts::Set(int32_t& Field, int32_t Value)
{
    if (Value == Field) return;
    Field = Value;
    if (FComPort) FComPort->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t Value) { Set(FReadInterval, Value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t Value) { Set(FReadTotalM, Value); }
void TComTimeouts::SetReadTotalConstant(int32_t Value) { Set(FReadTotalC, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) { Set(FWriteTotalM, Value); }
void TComTimeouts::SetWriteTotalConstant(int32_t Value) { Set(FWriteTotalC, Value); }

void TComBuffer::Assign(const TPersistent& Source)
{
    const auto* other = dynamic_cast<const TComBuffer*>(&Source);
    if (!other) AssignError(Source);
    FInputSize = other->FInputSize;
    FOutputSize = other->FOutputSize;
}

void TComBuffer::Set(int32_t& Field, int32_t Value)
{
    if (Value == Field) return;
    Field = Value;
    if (Field > 0 && Field % 2 != 0) --Field;
    if (FComPort) FComPort->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int32_t Value) { Set(FInputSize, Value); }
void TComBuffer::SetOutputSize(int32_t Value) { Set(FOutputSize, Value); }

// --- construction ------------------------------------------------------------

TCustomComPort::TCustomComPort(TComponent* AOwner, TPlatform& Platform)
    : TComponent(AOwner), FPlatform(Platform)
{
    FParity = std::make_unique<TComParity>();
    FParity->FComPort = this;
    FFlowControl = std::make_unique<TComFlowControl>();
    FFlowControl->FComPort = this;
    FTimeouts = std::make_unique<TComTimeouts>();
    FTimeouts->FComPort = this;
    FBuffer = std::make_unique<TComBuffer>();
    FBuffer->FComPort = this;
}

TCustomComPort::~TCustomComPort()
{
    // A failing close must not escape the destruction; the port is released
    // all the same.
    try {
        Close();
    } catch (const std::exception& e) {
        ShowException(e);
    }
    if (FConnected) {
        DestroyEventThread();
        CloseDeviceHandle();
        FConnected = false;
    }
    FBuffer.reset();
    FFlowControl.reset();
    FTimeouts.reset();
    FParity.reset();
}

// --- settings ----------------------------------------------------------------

bool TCustomComPort::CanApply() const
{
    return FConnected && FUpdateCount == 0 && !Loading() && !Designing();
}

void TCustomComPort::SetPort(const std::string& Value)
{
    if (Value == FPort) return;
    FPort = Value;
    if (FConnected && !Loading()) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(TBaudRate Value)
{
    if (Value == FBaudRate) return;
    FBaudRate = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int32_t Value)
{
    if (Value == FCustomBaudRate) return;
    FCustomBaudRate = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits Value)
{
    if (Value == FDataBits) return;
    FDataBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits Value)
{
    if (Value == FStopBits) return;
    FStopBits = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool Value)
{
    if (Value == FDiscardNull) return;
    FDiscardNull = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char16_t Value)
{
    if (Value == FEventChar) return;
    FEventChar = Value;
    ApplyLineSettings();
}

void TCustomComPort::SetParity(const TComParity& Value)
{
    FParity->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& Value)
{
    FFlowControl->Assign(Value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& Value)
{
    FTimeouts->Assign(Value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& Value)
{
    FBuffer->Assign(Value);
    ApplyBufferSizes();
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value)
{
    if (Value == FSyncMethod) return;
    if (FConnected && !Loading()) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ConnChangeProp) + 1, 0);
        return;
    }
    FSyncMethod = Value;
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority Value)
{
    if (Value == FEventThreadPriority) return;
    if (FConnected && !Loading()) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ConnChangeProp) + 1, 0);
        return;
    }
    FEventThreadPriority = Value;
}

void TCustomComPort::SetTriggersOnRxChar(bool Value)
{
    if (FHasLink) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_HasLink) + 1, 0);
        return;
    }
    FTriggersOnRxChar = Value;
}

void TCustomComPort::EndUpdate()
{
    if (FUpdateCount <= 0) return;
    if (--FUpdateCount == 0) ApplyAllSettings();
}

// --- applying settings -------------------------------------------------------

SerialPlatform::TLineSettings TCustomComPort::LineSettings() const
{
    TLineSettings s;
    s.BaudRate = Bits32(BaudRateToBits(FBaudRate, FCustomBaudRate));
    s.fBinary = true;
    s.fParity = FParity->Check();
    s.fOutxCtsFlow = FFlowControl->OutCTSFlow();
    s.fOutxDsrFlow = FFlowControl->OutDSRFlow();
    s.fDtrControl = static_cast<uint8_t>(FFlowControl->ControlDTR());
    s.fDsrSensitivity = FFlowControl->DSRSensitivity();
    s.fTXContinueOnXoff = FFlowControl->TxContinueOnXoff();
    s.fOutX = FFlowControl->XonXoffOut();
    s.fInX = FFlowControl->XonXoffIn();
    s.fErrorChar = FParity->Check() && FParity->Replace();
    s.fNull = FDiscardNull;
    s.fRtsControl = static_cast<uint8_t>(FFlowControl->ControlRTS());
    s.fAbortOnError = false;
    s.XonLim = static_cast<uint16_t>(FBuffer->InputSize() / 4);
    s.XoffLim = static_cast<uint16_t>(FBuffer->InputSize() / 4);
    s.ByteSize = static_cast<uint8_t>(5 + static_cast<int>(FDataBits));
    s.Parity = static_cast<uint8_t>(FParity->Bits());
    s.StopBits = static_cast<uint8_t>(FStopBits);
    s.XonChar = static_cast<uint8_t>(FFlowControl->XonChar());
    s.XoffChar = static_cast<uint8_t>(FFlowControl->XoffChar());
    s.ErrorChar = s.fErrorChar ? static_cast<uint8_t>(FParity->ReplaceChar()) : 0;
    s.EvtChar = static_cast<uint8_t>(FEventChar);
    return s;
}

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply()) return;
    if (const int error = FDevice->SetCommState(LineSettings()))
        ReportError(static_cast<uint16_t>(TComExceptions::CE_SetStateFailed) + 1, error);
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply()) return;
    TCommTimeouts t;
    t.ReadIntervalTimeout = Bits32(FTimeouts->ReadInterval());
    t.ReadTotalTimeoutMultiplier = Bits32(FTimeouts->ReadTotalMultiplier());
    t.ReadTotalTimeoutConstant = Bits32(FTimeouts->ReadTotalConstant());
    t.WriteTotalTimeoutMultiplier = Bits32(FTimeouts->WriteTotalMultiplier());
    t.WriteTotalTimeoutConstant = Bits32(FTimeouts->WriteTotalConstant());
    if (const int error = FDevice->SetCommTimeouts(t))
        ReportError(static_cast<uint16_t>(TComExceptions::CE_TimeoutsFailed) + 1, error);
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!CanApply()) return;
    if (const int error = FDevice->SetupComm(FBuffer->InputSize(), FBuffer->OutputSize()))
        ReportError(static_cast<uint16_t>(TComExceptions::CE_SetupComFailed) + 1, error);
}

void TCustomComPort::ApplyAllSettings()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

// --- open and close ----------------------------------------------------------

void TCustomComPort::OpenDeviceHandle()
{
    if (const int error = FPlatform.OpenDevice(FPort, FDevice)) {
        FDevice.reset();
        FHandle = InvalidHandle;
        ReportError(static_cast<uint16_t>(TComExceptions::CE_OpenFailed) + 1, error);
        return;
    }
    FHandle = FDevice->Handle();
}

void TCustomComPort::CloseDeviceHandle()
{
    if (FHandle == InvalidHandle) return;
    FDevice.reset();
    FHandle = InvalidHandle;
}

void TCustomComPort::Open()
{
    if (FConnected) return;
    DoBeforeOpen();
    OpenDeviceHandle();
    if (FHandle == InvalidHandle) return;
    FConnected = true;
    try {
        ApplyAllSettings();
    } catch (...) {
        CloseDeviceHandle();
        FConnected = false;
        throw;
    }
    if (FEvents.Empty()) {
        FThreadCreated = false;
    } else {
        CreateEventThread();
    }
    NotifyAfterOpen();
}

void TCustomComPort::Close()
{
    if (!FConnected) return;
    // Connected stored while loading: nothing was opened, so nothing closes
    // and no handler runs; the port just stays closed after loading.
    if (FHandle == InvalidHandle) {
        FConnected = false;
        return;
    }
    NotifyBeforeClose();
    if (const int error = FDevice->Purge(PURGE_TXABORT | PURGE_RXABORT)) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_PurgeFailed) + 1, error);
        return;
    }
    DestroyEventThread();
    CloseDeviceHandle();
    FConnected = false;
    NotifyAfterClose();
}

void TCustomComPort::CreateEventThread()
{
    FWindow = FSyncMethod == TSyncMethod::smWindowSync;
    FEventThread = std::make_unique<TComThread>(*this);
    FThreadCreated = true;
}

void TCustomComPort::DestroyEventThread()
{
    if (!FThreadCreated) return;
    FEventThread.reset();
    FThreadCreated = false;
    FWindow = false;
}

void TCustomComPort::SetConnected(bool Value)
{
    if (Loading()) {
        FConnected = Value;
        return;
    }
    if (Value == FConnected) return;
    if (Value)
        Open();
    else
        Close();
}

void TCustomComPort::Loaded()
{
    if (!FConnected) return;
    FConnected = false;
    try {
        Open();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

template <typename F>
void TCustomComPort::ForEachLink(F&& Call)
{
    for (TComLink* link : FLinks) Call(*link);
}

void TCustomComPort::NotifyAfterOpen()
{
    ForEachLink([&](TComLink& l) { if (l.OnConn) l.OnConn(*this, true); });
    DoAfterOpen();
    ProcessCTSChange();
    ProcessDSRChange();
    ProcessRLSDChange();
}

void TCustomComPort::NotifyBeforeClose()
{
    ForEachLink([&](TComLink& l) { if (l.OnCTSChange) l.OnCTSChange(*this, false); });
    ForEachLink([&](TComLink& l) { if (l.OnDSRChange) l.OnDSRChange(*this, false); });
    ForEachLink([&](TComLink& l) { if (l.OnRLSDChange) l.OnRLSDChange(*this, false); });
    DoCTSChange(false);
    DoDSRChange(false);
    DoRLSDChange(false);
    DoBeforeClose();
}

void TCustomComPort::NotifyAfterClose()
{
    ForEachLink([&](TComLink& l) { if (l.OnConn) l.OnConn(*this, false); });
    DoAfterClose();
}

// --- errors ------------------------------------------------------------------

void TCustomComPort::ReportError(uint16_t ErrorCode, int64_t WinError)
{
    if (!OnException) {
        if (WinError > 0) throw EComPort(ErrorCode, static_cast<int32_t>(WinError));
        throw EComPort::CreateNoWinCode(ErrorCode);
    }
    std::string winMessage;
    if (WinError > 0)
        winMessage = "System Error.  Code: " + std::to_string(WinError) + ".\n" +
                     FPlatform.ErrorText(static_cast<int>(WinError));
    OnException(*this, static_cast<TComExceptions>(ErrorCode - 1), ComErrorMessage(ErrorCode), WinError,
                winMessage);
}

// --- transfers ---------------------------------------------------------------

int32_t TCustomComPort::Write(const void* Buffer, int32_t Count)
{
    PAsync record;
    CreateAsyncRecord(record);
    WriteAsync(Buffer, Count, record);
    const int32_t result = WaitForAsync(record);
    FreeAsyncRecord(record);
    return result;
}

int32_t TCustomComPort::Read(void* Buffer, int32_t Count)
{
    PAsync record;
    CreateAsyncRecord(record);
    ReadAsync(Buffer, Count, record);
    const int32_t result = WaitForAsync(record);
    FreeAsyncRecord(record);
    return result;
}

int32_t TCustomComPort::WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr)
{
    if (!AsyncPtr) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_InvalidAsync) + 1, 0);
        return 0;
    }
    AsyncPtr->StartFailed = false;
    if (FHandle == InvalidHandle) {
        ReportError(static_cast<uint16_t>(TComExceptions::CEPortNotOpen) + 1, -24);
        return 0;
    }
    FillAsyncRecord(TOperationKind::okWrite, Buffer, Count, AsyncPtr);
    const auto* bytes = static_cast<const uint8_t*>(Buffer);
    const int error = Count < 0 ? EINVAL : FDevice->StartWrite(AsyncPtr->Overlapped,
                                                                std::span(bytes, static_cast<size_t>(Count)));
    if (error != 0 && error != ErrorIoPending) {
        AsyncPtr->StartFailed = true;
        ReportError(static_cast<uint16_t>(TComExceptions::CE_WriteFailed) + 1, error);
        return 0;
    }
    ForEachLink([&](TComLink& l) { if (l.OnTx) l.OnTx(*this, true); });
    return static_cast<int32_t>(AsyncPtr->Overlapped.Done);
}

int32_t TCustomComPort::ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr)
{
    if (!AsyncPtr) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_InvalidAsync) + 1, 0);
        return 0;
    }
    AsyncPtr->Kind = TOperationKind::okRead;
    AsyncPtr->StartFailed = false;
    if (FHandle == InvalidHandle) {
        ReportError(static_cast<uint16_t>(TComExceptions::CEPortNotOpen) + 1, -24);
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(Buffer);
    const int error =
        Count < 0 ? EINVAL : FDevice->StartRead(AsyncPtr->Overlapped, std::span(bytes, static_cast<size_t>(Count)));
    if (error != 0 && error != ErrorIoPending) {
        AsyncPtr->StartFailed = true;
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ReadFailed) + 1, error);
        return 0;
    }
    return static_cast<int32_t>(AsyncPtr->Overlapped.Done);
}

int32_t TCustomComPort::WaitForAsync(PAsync& AsyncPtr)
{
    if (!AsyncPtr) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_InvalidAsync) + 1, 0);
        return 0;
    }
    // A transfer that could not start was reported then; an OnException
    // handler that returned hears of it once.
    if (AsyncPtr->StartFailed) return 0;
    uint32_t moved = 0;
    // A record on which no transfer was started is complete with 0 bytes.
    const int error = FDevice ? FDevice->FinishTransfer(AsyncPtr->Overlapped, moved) : 0;
    if (error != 0) {
        const auto code = AsyncPtr->Kind == TOperationKind::okWrite ? TComExceptions::CE_WriteFailed
                                                                     : TComExceptions::CE_ReadFailed;
        ReportError(static_cast<uint16_t>(code) + 1, error);
        return 0;
    }
    if (AsyncPtr->Kind == TOperationKind::okRead && FDevice && InputCount() == 0) {
        ForEachLink([&](TComLink& l) { if (l.OnRx) l.OnRx(*this, false); });
    } else if (!AsyncPtr->Data.empty()) {
        ForEachLink([&](TComLink& l) {
            if (l.OnTxBuf) l.OnTxBuf(*this, AsyncPtr->Data, AsyncPtr->Size);
        });
    }
    return static_cast<int32_t>(moved);
}

void TCustomComPort::AbortAllAsync()
{
    const int error = FDevice ? FDevice->Purge(PURGE_TXABORT | PURGE_RXABORT) : ErrorBadHandle;
    if (error) ReportError(static_cast<uint16_t>(TComExceptions::CE_PurgeFailed) + 1, error);
}

void TCustomComPort::ClearBuffer(bool Input, bool Output)
{
    const uint32_t flags = (Input ? PURGE_RXCLEAR : 0u) | (Output ? PURGE_TXCLEAR : 0u);
    const int error = FDevice ? FDevice->Purge(flags) : ErrorBadHandle;
    if (error) ReportError(static_cast<uint16_t>(TComExceptions::CE_PurgeFailed) + 1, error);
}

int32_t TCustomComPort::WriteStr(const std::u16string& Str)
{
    std::vector<uint8_t> bytes(Str.size());
    std::transform(Str.begin(), Str.end(), bytes.begin(), [](char16_t c) { return static_cast<uint8_t>(c); });
    return Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

int32_t TCustomComPort::ReadStr(std::u16string& Str, int32_t Count)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(Count, 0)));
    const int32_t read = Read(bytes.data(), Count);
    Str.assign(bytes.begin(), bytes.begin() + read);
    return read;
}

int32_t TCustomComPort::WriteUnicodeString(const std::string& Str)
{
    const std::vector<uint8_t> bytes = FCodePage == 1251 ? Utf8ToCp1251(Str) : std::vector<uint8_t>(Str.begin(), Str.end());
    return Write(bytes.data(), static_cast<int32_t>(bytes.size()));
}

int32_t TCustomComPort::ReadUnicodeString(std::string& Str, int32_t Count)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(Count, 0)));
    const int32_t read = Read(bytes.data(), Count);
    const auto received = std::span(bytes).first(static_cast<size_t>(read));
    Str = FCodePage == 1251 ? Cp1251ToUtf8(received) : std::string(received.begin(), received.end());
    return read;
}

// --- queries -----------------------------------------------------------------

int32_t TCustomComPort::InputCount()
{
    uint32_t errors = 0;
    TComStat stat;
    const int error = FDevice ? FDevice->ClearCommError(errors, stat) : ErrorBadHandle;
    if (error) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ClearComFailed) + 1, error);
        return 0;
    }
    return static_cast<int32_t>(stat.cbInQue);
}

TComSignals TCustomComPort::Signals()
{
    uint32_t status = 0;
    const int error = FDevice ? FDevice->GetCommModemStatus(status) : ErrorBadHandle;
    if (error) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ModemStatFailed) + 1, error);
        return {};
    }
    TComSignals signals;
    if (status & MS_CTS_ON) signals.Include(TComSignal::csCTS);
    if (status & MS_DSR_ON) signals.Include(TComSignal::csDSR);
    if (status & MS_RING_ON) signals.Include(TComSignal::csRing);
    if (status & MS_RLSD_ON) signals.Include(TComSignal::csRLSD);
    return signals;
}

TComErrors TCustomComPort::LastErrors()
{
    uint32_t flags = 0;
    TComStat stat;
    const int error = FDevice ? FDevice->ClearCommError(flags, stat) : ErrorBadHandle;
    if (error) {
        ReportError(static_cast<uint16_t>(TComExceptions::CE_ClearComFailed) + 1, error);
        return {};
    }
    TComErrors errors;
    if (flags & CE_FRAME) errors.Include(TComError::ceFrame);
    if ((flags & CE_RXPARITY) && FParity->Check()) errors.Include(TComError::ceRxParity);
    if (flags & CE_OVERRUN) errors.Include(TComError::ceOverrun);
    if (flags & CE_BREAK) errors.Include(TComError::ceBreak);
    if (flags & CE_IOE) errors.Include(TComError::ceIO);
    if (flags & CE_MODE) errors.Include(TComError::ceMode);
    if (flags & CE_RXOVER) errors.Include(TComError::ceRxOver);
    if (flags & CE_TXFULL) errors.Include(TComError::ceTxFull);
    return errors;
}

// --- links -------------------------------------------------------------------

void TCustomComPort::RegisterLink(TComLink& Link)
{
    if (std::find(FLinks.begin(), FLinks.end(), &Link) == FLinks.end()) FLinks.push_back(&Link);
    FHasLink = std::any_of(FLinks.begin(), FLinks.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

void TCustomComPort::UnRegisterLink(TComLink& Link)
{
    FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), &Link), FLinks.end());
    FHasLink = std::any_of(FLinks.begin(), FLinks.end(), [](TComLink* l) { return bool(l->OnRxBuf); });
}

// --- line event dispatch -----------------------------------------------------

void TCustomComPort::RunPortHandlers(TComEvents Events)
{
    using enum TComEvent;
    if (Events.Contains(evError)) ProcessError();
    if (Events.Contains(evRxChar)) ProcessRxChar();
    if (Events.Contains(evTxEmpty)) ProcessTxEmpty();
    if (Events.Contains(evBreak)) ProcessBreak();
    if (Events.Contains(evRing)) ProcessRing();
    if (Events.Contains(evCTS)) ProcessCTSChange();
    if (Events.Contains(evDSR)) ProcessDSRChange();
    if (Events.Contains(evRxFlag)) ProcessRxFlag();
    if (Events.Contains(evRLSD)) ProcessRLSDChange();
    if (Events.Contains(evRx80Full)) ProcessRx80Full();
}

void TCustomComPort::ProcessRxChar()
{
    int32_t count = InputCount();
    if (count > 0) ForEachLink([&](TComLink& l) { if (l.OnRx) l.OnRx(*this, true); });
    if (count > 0 && !TriggersOnRxChar()) {
        // The component takes the bytes itself and hands them to OnRxBuf.
        std::vector<uint8_t> bytes;
        bool taken = false;
        const auto take = [&] {
            bytes.resize(static_cast<size_t>(count));
            Read(bytes.data(), count);
            DoRxBuf(bytes, count);
            taken = true;
        };
        for (TComLink* link : FLinks) {
            if (!link->OnRxBuf) continue;
            if (!taken) take();
            link->OnRxBuf(*this, bytes, count);
        }
        if (!taken && !FTriggersOnRxChar) take();
        if (taken) count = 0;
    }
    if (count > 0) DoRxChar(count);
}

void TCustomComPort::ProcessTxEmpty()
{
    ForEachLink([&](TComLink& l) { if (l.OnTx) l.OnTx(*this, false); });
    ForEachLink([&](TComLink& l) { if (l.OnTxEmpty) l.OnTxEmpty(*this); });
    DoTxEmpty();
}

void TCustomComPort::ProcessRxFlag()
{
    ForEachLink([&](TComLink& l) { if (l.OnRxFlag) l.OnRxFlag(*this); });
    DoRxFlag();
}

void TCustomComPort::ProcessRing()
{
    ForEachLink([&](TComLink& l) { if (l.OnRing) l.OnRing(*this); });
    DoRing();
}

void TCustomComPort::ProcessBreak()
{
    DoBreak();
}

void TCustomComPort::ProcessCTSChange()
{
    const bool on = Signals().Contains(TComSignal::csCTS);
    ForEachLink([&](TComLink& l) { if (l.OnCTSChange) l.OnCTSChange(*this, on); });
    DoCTSChange(on);
}

void TCustomComPort::ProcessDSRChange()
{
    const bool on = Signals().Contains(TComSignal::csDSR);
    ForEachLink([&](TComLink& l) { if (l.OnDSRChange) l.OnDSRChange(*this, on); });
    DoDSRChange(on);
}

void TCustomComPort::ProcessRLSDChange()
{
    const bool on = Signals().Contains(TComSignal::csRLSD);
    ForEachLink([&](TComLink& l) { if (l.OnRLSDChange) l.OnRLSDChange(*this, on); });
    DoRLSDChange(on);
}

void TCustomComPort::ProcessError()
{
    const TComErrors errors = LastErrors();
    if (!errors.Empty()) DoError(errors);
}

void TCustomComPort::ProcessRx80Full()
{
    DoRx80Full();
}

// --- notifications -----------------------------------------------------------

void TCustomComPort::DoAfterClose() { if (OnAfterClose) OnAfterClose(*this); }
void TCustomComPort::DoAfterOpen() { if (OnAfterOpen) OnAfterOpen(*this); }
void TCustomComPort::DoBeforeClose() { if (OnBeforeClose) OnBeforeClose(*this); }
void TCustomComPort::DoBeforeOpen() { if (OnBeforeOpen) OnBeforeOpen(*this); }
void TCustomComPort::DoRxChar(int32_t Count) { if (OnRxChar) OnRxChar(*this, Count); }
void TCustomComPort::DoRxBuf(std::span<const uint8_t> Buffer, int32_t Count)
{
    if (OnRxBuf) OnRxBuf(*this, Buffer, Count);
}
void TCustomComPort::DoTxEmpty() { if (OnTxEmpty) OnTxEmpty(*this); }
void TCustomComPort::DoBreak() { if (OnBreak) OnBreak(*this); }
void TCustomComPort::DoRing() { if (OnRing) OnRing(*this); }
void TCustomComPort::DoRxFlag() { if (OnRxFlag) OnRxFlag(*this); }
void TCustomComPort::DoCTSChange(bool OnOff) { if (OnCTSChange) OnCTSChange(*this, OnOff); }
void TCustomComPort::DoDSRChange(bool OnOff) { if (OnDSRChange) OnDSRChange(*this, OnOff); }
void TCustomComPort::DoError(TComErrors Errors) { if (OnError) OnError(*this, Errors); }
void TCustomComPort::DoRLSDChange(bool OnOff) { if (OnRLSDChange) OnRLSDChange(*this, OnOff); }
void TCustomComPort::DoRx80Full() { if (OnRx80Full) OnRx80Full(*this); }

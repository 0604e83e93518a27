#pragma once
// The serial port component: every setting of one serial line, opening the
// device with them and closing it, reads and writes, and the line events
// reported to handlers through the event thread.
//
// Setters store a new value first and then apply it to the device; applying
// does nothing while the port is closed, inside an update bracket or while
// the component is loading, so Open applies everything. Every failure goes
// through ReportError.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "runtime/Component.h"
#include "serial/ComTypes.h"
#include "serial/EComPort.h"
#include "serial/platform/SerialPlatform.h"

class TCustomComPort;
class TComThread;

using TNotifyEvent = std::function<void(TObject& Sender)>;
using TRxCharEvent = std::function<void(TObject& Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TObject& Sender, std::span<const uint8_t> Buffer, int32_t Count)>;
using TComErrorEvent = std::function<void(TObject& Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TObject& Sender, bool OnOff)>;
using TComExceptionEvent = std::function<void(TObject& Sender, TComExceptions TComException,
                                              const std::string& ComportMessage, int64_t WinError,
                                              const std::string& WinMessage)>;

// The parity group.
class TComParity : public TPersistent {
public:
    void Assign(const TPersistent& Source) override;
    std::string ClassName() const override { return "TComParity"; }

    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits Value);
    bool Check() const { return FCheck; }
    void SetCheck(bool Value);
    bool Replace() const { return FReplace; }
    void SetReplace(bool Value);
    char16_t ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(char16_t Value);

private:
    friend class TCustomComPort;
    void Changed();

    TCustomComPort* FComPort = nullptr;
    TParityBits FBits = TParityBits::prNone;
    bool FCheck = false;
    bool FReplace = false;
    char16_t FReplaceChar = 0;
};

// The flow-control group.
class TComFlowControl : public TPersistent {
public:
    void Assign(const TPersistent& Source) override;
    std::string ClassName() const override { return "TComFlowControl"; }

    bool OutCTSFlow() const { return FOutCTSFlow; }
    void SetOutCTSFlow(bool Value);
    bool OutDSRFlow() const { return FOutDSRFlow; }
    void SetOutDSRFlow(bool Value);
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    void SetControlDTR(TDTRFlowControl Value);
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    void SetControlRTS(TRTSFlowControl Value);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool Value);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool Value);
    bool DSRSensitivity() const { return FDSRSensitivity; }
    void SetDSRSensitivity(bool Value);
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool Value);
    char16_t XonChar() const { return FXonChar; }
    void SetXonChar(char16_t Value);
    char16_t XoffChar() const { return FXoffChar; }
    void SetXoffChar(char16_t Value);

    // The composite of RTS control, CTS output flow and XON/XOFF both ways.
    TFlowControl FlowControl() const;
    // Sets the four fields directly and sends the line settings again, even
    // when nothing changed.
    void SetFlowControl(TFlowControl Value);

private:
    friend class TCustomComPort;
    template <typename T>
    void Set(T& Field, T Value);

    TCustomComPort* FComPort = nullptr;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = TDTRFlowControl::dtrDisable;
    TRTSFlowControl FControlRTS = TRTSFlowControl::rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char16_t FXonChar = 17;
    char16_t FXoffChar = 19;
};

// Transfer time-outs in milliseconds.
class TComTimeouts : public TPersistent {
public:
    void Assign(const TPersistent& Source) override;
    std::string ClassName() const override { return "TComTimeouts"; }

    int32_t ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int32_t Value);
    int32_t ReadTotalMultiplier() const { return FReadTotalM; }
    void SetReadTotalMultiplier(int32_t Value);
    int32_t ReadTotalConstant() const { return FReadTotalC; }
    void SetReadTotalConstant(int32_t Value);
    int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
    void SetWriteTotalMultiplier(int32_t Value);
    int32_t WriteTotalConstant() const { return FWriteTotalC; }
    void SetWriteTotalConstant(int32_t Value);

private:
    friend class TCustomComPort;
    void Set(int32_t& Field, int32_t Value);

    TCustomComPort* FComPort = nullptr;
    int32_t FReadInterval = -1;
    int32_t FReadTotalM = 0;
    int32_t FReadTotalC = 0;
    int32_t FWriteTotalM = 100;
    int32_t FWriteTotalC = 1000;
};

// Driver queue sizes; a positive size is always even.
class TComBuffer : public TPersistent {
public:
    void Assign(const TPersistent& Source) override;
    std::string ClassName() const override { return "TComBuffer"; }

    int32_t InputSize() const { return FInputSize; }
    void SetInputSize(int32_t Value);
    int32_t OutputSize() const { return FOutputSize; }
    void SetOutputSize(int32_t Value);

private:
    friend class TCustomComPort;
    void Set(int32_t& Field, int32_t Value);

    TCustomComPort* FComPort = nullptr;
    int32_t FInputSize = 1024;
    int32_t FOutputSize = 1024;
};

// One transfer: its platform state, what it is, and for a write a copy of
// the bytes, for the links.
struct TAsync {
    SerialPlatform::TTransfer Overlapped;
    TOperationKind Kind = TOperationKind::okWrite;
    std::vector<uint8_t> Data;
    int32_t Size = 0;
    // The transfer could not be started; its failure has been reported.
    bool StartFailed = false;
};
using PAsync = std::unique_ptr<TAsync>;

void CreateAsyncRecord(PAsync& AsyncPtr);
void FreeAsyncRecord(PAsync& AsyncPtr);
void FillAsyncRecord(TOperationKind Kind, const void* Buffer, int32_t Count, PAsync& AsyncPtr);

// Another component that follows the port's traffic and line states.
class TComLink {
public:
    std::function<void(TObject& Sender, bool OnOff)> OnConn;
    TRxBufEvent OnRxBuf;
    TRxBufEvent OnTxBuf;
    TNotifyEvent OnTxEmpty;
    TNotifyEvent OnRxFlag;
    TComSignalEvent OnCTSChange;
    TComSignalEvent OnDSRChange;
    TComSignalEvent OnRLSDChange;
    TNotifyEvent OnRing;
    std::function<void(TObject& Sender, bool OnOff)> OnTx;
    std::function<void(TObject& Sender, bool OnOff)> OnRx;
};

class TCustomComPort : public TComponent {
public:
    explicit TCustomComPort(TComponent* AOwner,
                            SerialPlatform::TPlatform& Platform = SerialPlatform::TPlatform::System());
    ~TCustomComPort() override;
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;
    std::string ClassName() const override { return "TCustomComPort"; }

    // Settings.
    const std::string& Port() const { return FPort; }
    void SetPort(const std::string& Value);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    int32_t CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int32_t Value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool Value);
    char16_t EventChar() const { return FEventChar; }
    void SetEventChar(char16_t Value);
    TComParity& Parity() { return *FParity; }
    void SetParity(const TComParity& Value);
    TComFlowControl& FlowControl() { return *FFlowControl; }
    void SetFlowControl(const TComFlowControl& Value);
    TComTimeouts& Timeouts() { return *FTimeouts; }
    void SetTimeouts(const TComTimeouts& Value);
    TComBuffer& Buffer() { return *FBuffer; }
    void SetBuffer(const TComBuffer& Value);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents Value) { FEvents = Value; }
    TStoredProps StoredProps() const { return FStoredProps; }
    void SetStoredProps(TStoredProps Value) { FStoredProps = Value; }
    uint32_t CodePage() const { return FCodePage; }
    void SetCodePage(uint32_t Value) { FCodePage = Value; }
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod Value);
    TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
    void SetEventThreadPriority(TThreadPriority Value);
    bool TriggersOnRxChar() const { return FTriggersOnRxChar && !FHasLink; }
    void SetTriggersOnRxChar(bool Value);

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Lifecycle.
    void Open();
    void Close();
    bool Connected() const { return FConnected; }
    void SetConnected(bool Value);
    uintptr_t Handle() const { return FHandle; }
    static constexpr uintptr_t InvalidHandle = ~uintptr_t{0};

    // Transfers, on the caller's thread.
    int32_t Write(const void* Buffer, int32_t Count);
    int32_t Read(void* Buffer, int32_t Count);
    int32_t WriteStr(const std::u16string& Str);
    int32_t ReadStr(std::u16string& Str, int32_t Count);
    // Text converted with CodePage (0: the system's narrow encoding).
    int32_t WriteUnicodeString(const std::string& Str);
    int32_t ReadUnicodeString(std::string& Str, int32_t Count);
    int32_t WriteAsync(const void* Buffer, int32_t Count, PAsync& AsyncPtr);
    int32_t ReadAsync(void* Buffer, int32_t Count, PAsync& AsyncPtr);
    int32_t WaitForAsync(PAsync& AsyncPtr);
    void AbortAllAsync();
    void ClearBuffer(bool Input, bool Output);

    // Queries.
    int32_t InputCount();
    TComSignals Signals();
    TComErrors LastErrors();

    // The one error path: raises EComPort, or hands the error to
    // OnException when one is assigned and returns.
    void ReportError(uint16_t ErrorCode, int64_t WinError);

    void RegisterLink(TComLink& Link);
    void UnRegisterLink(TComLink& Link);

    // Runs the steps of one batch of line events in their fixed order.
    void RunPortHandlers(TComEvents Events);
    void ProcessRxChar();
    void ProcessTxEmpty();
    void ProcessRxFlag();
    void ProcessRing();
    void ProcessBreak();
    void ProcessCTSChange();
    void ProcessDSRChange();
    void ProcessRLSDChange();
    void ProcessError();
    void ProcessRx80Full();

    // Handlers, assigned by the owner.
    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TRxCharEvent OnRxChar;
    TRxBufEvent OnRxBuf;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;
    TComExceptionEvent OnException;

    // The device, for the event thread.
    SerialPlatform::TDevice* Device() const { return FDevice.get(); }

protected:
    void Loaded() override;
    virtual void OpenDeviceHandle();
    virtual void CloseDeviceHandle();
    virtual void ApplyAllSettings();
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int32_t Count);
    virtual void DoRxBuf(std::span<const uint8_t> Buffer, int32_t Count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool OnOff);
    virtual void DoDSRChange(bool OnOff);
    virtual void DoError(TComErrors Errors);
    virtual void DoRLSDChange(bool OnOff);
    virtual void DoRx80Full();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

private:
    friend class TComParity;
    friend class TComFlowControl;
    friend class TComTimeouts;
    friend class TComBuffer;

    bool CanApply() const;
    SerialPlatform::TLineSettings LineSettings() const;
    void NotifyAfterOpen();
    void NotifyBeforeClose();
    void NotifyAfterClose();
    void CreateEventThread();
    void DestroyEventThread();
    template <typename F>
    void ForEachLink(F&& Call);

    SerialPlatform::TPlatform& FPlatform;
    std::unique_ptr<SerialPlatform::TDevice> FDevice;

    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;
    uintptr_t FHandle = InvalidHandle;
    // With smWindowSync the event thread hands each event over as a step
    // that the main thread takes before running it; this is its receiver.
    bool FWindow = false;
    int32_t FUpdateCount = 0;
    std::vector<TComLink*> FLinks;
    bool FTriggersOnRxChar = true;
    TThreadPriority FEventThreadPriority = TThreadPriority::tpNormal;
    bool FHasLink = false;
    bool FConnected = false;
    TBaudRate FBaudRate = TBaudRate::br9600;
    int32_t FCustomBaudRate = 9600;
    std::string FPort = "COM1";
    TStopBits FStopBits = TStopBits::sbOneStopBit;
    TDataBits FDataBits = TDataBits::dbEight;
    bool FDiscardNull = false;
    char16_t FEventChar = 0;
    TComEvents FEvents = AllComEvents;
    std::unique_ptr<TComBuffer> FBuffer;
    std::unique_ptr<TComParity> FParity;
    std::unique_ptr<TComTimeouts> FTimeouts;
    std::unique_ptr<TComFlowControl> FFlowControl;
    TSyncMethod FSyncMethod = TSyncMethod::smThreadSync;
    TStoredProps FStoredProps{TStoredProp::spBasic};
    uint32_t FCodePage = 0;
};

// The component as the window stores it.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
    std::string ClassName() const override { return "TComPort"; }
};

// Set and mask of the line events; exact inverses over the ten events.
uint32_t EventsToMask(TComEvents Events);
TComEvents MaskToEvents(uint32_t Mask);

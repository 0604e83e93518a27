#include "protocol/ExchangeController.h"

#include <utility>

#include "protocol/Frames.h"
#include "runtime/Convert.h"
#include "serial/ComText.h"

namespace {

// The state integers are signed 32-bit; their arithmetic wraps as such
// instead of overflowing.
int32_t Wrap32(int64_t Value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(Value)));
}

// A generous bound on reads per notification, so a line that never stops
// sending cannot hold the main thread.
constexpr int MaxReadsPerNotification = 64;

} // namespace

std::chrono::microseconds TExchangeController::AnswerSilence() const
{
    if (FLineSpeed > 19200 || FLineSpeed <= 0) return std::chrono::microseconds{1750};
    return std::chrono::microseconds{(38'500'000LL + FLineSpeed - 1) / FLineSpeed};
}

std::chrono::microseconds TExchangeController::AnswerTimeout() const
{
    const int64_t speed = FLineSpeed > 0 ? FLineSpeed : 9600;
    return std::chrono::microseconds{1'000'000 + (255LL * 10 * 1'000'000 + speed - 1) / speed};
}

void TExchangeController::ConnectClick()
{
    FWindow.WriteConnectionSettings();
    FPort.SetPort(FWindow.SelectedText(TDropDown::Com));
    const TBaudRate baudRate = TextToBaudRate(FWindow.SelectedText(TDropDown::Speed));
    FPort.SetBaudRate(baudRate);
    FPort.Open();
    FLineSpeed = BaudRateToBits(baudRate, 9600);
    ForgetExchange();
    FAssembler.ForgetByteCount();
    FWindow.SetControlEnabled(TWindowControl::Con_setting, false);
    FWindow.SetControlEnabled(TWindowControl::Disconnect, true);
    FWindow.SetControlEnabled(TWindowControl::Connect, false);
    DeviceAddress = StrToInt(FWindow.EditText(TEditBox::Adder));
    FPort.Write(Frames::IdentifyRequest(DeviceAddress));
    FWindow.SetTimer1Enabled(true);
}

void TExchangeController::DisconnectClick()
{
    // Stopping the watchdog here keeps it from reporting a device the
    // operator has already left, and gives the next Connect its own 2500 ms.
    FWindow.SetTimer1Enabled(false);
    ForgetExchange();
    FWindow.SetControlEnabled(TWindowControl::Disconnect, false);
    FWindow.SetControlEnabled(TWindowControl::Connect, true);
    FWindow.SetControlEnabled(TWindowControl::Con_setting, true);
    FPort.Close();
}

void TExchangeController::StartClick()
{
    NextIndex = StrToInt(FWindow.EditText(TEditBox::Index));
    LowerBound = Wrap32(int64_t{StrToInt(FWindow.EditText(TEditBox::Index))} -
                        StrToInt(FWindow.EditText(TEditBox::Count)));
    FWindow.SetProgressMax(StrToInt(FWindow.EditText(TEditBox::Count)));
    FWindow.SetProgressPosition(0);

    const int32_t rows = FWindow.RowCount();
    const int32_t cols = FWindow.ColCount();
    for (int32_t row = 1; row < rows; ++row)
        for (int32_t col = 0; col < cols; ++col) FWindow.SetCell(col, row, "");
    FWindow.SetRowCount(2);
    FWindow.SetCell(0, 1, "");
    FWindow.SetCell(1, 1, "");

    RequestedCount = StrToInt(FWindow.EditText(TEditBox::Count));
    FWindow.SetControlEnabled(TWindowControl::Stop, true);
    FWindow.SetControlEnabled(TWindowControl::Start, false);
    FDownloading = true;
    RowCounter = 0;
    // An answer still owed to an earlier download belongs to a cleared grid.
    FAwaited.reset();
    FQueued.reset();
    RequestNextRecord(FPort);
}

void TExchangeController::StopClick()
{
    StopDownload();
}

void TExchangeController::Timer1Timer()
{
    FWindow.SetTimer1Enabled(false);
    FWindow.SetControlEnabled(TWindowControl::Disconnect, false);
    FWindow.SetControlEnabled(TWindowControl::Connect, true);
    FWindow.SetControlEnabled(TWindowControl::Con_setting, true);
    ForgetExchange();
    FPort.Close();
    FWindow.ShowMessage(DeviceNotAnsweringMessage);
}

// A failure here goes back through the port's hand-over, which ends the
// port's event thread without a word. So that the download does not stall
// silently, it ends here and its error box is posted for after the hand-over.
void TExchangeController::ComPort1RxChar(int32_t /*Count*/)
{
    try {
        ReadArrived(MaxReadsPerNotification);
    } catch (const std::exception& e) {
        EndOnLineFailure();
        FWindow.PostError(e.what());
        throw;
    }
}

void TExchangeController::SilenceTimerTimer()
{
    OnTheLine([this] {
        // Bytes whose notification has not been handled yet break the
        // silence, however many of them a complete answer took off the front.
        if (ReadArrived(MaxReadsPerNotification) > 0) return;

        if (FAssembler.State() == TAnswerAssembler::TState::asVerifiesSoFar)
            ActOnAnswer(FAssembler.TakeAnswerAfterSilence());
        else {
            Trace(TTraceNote::tnDropped, FAssembler.Bytes());
            FAssembler.Drop();
        }
    });
}

// A read or write that fails on the line (an adapter pulled out) ends the
// download; the error goes on to be shown.
template <typename F>
void TExchangeController::OnTheLine(F&& Step)
{
    try {
        Step();
    } catch (...) {
        EndOnLineFailure();
        throw;
    }
}

// A failed line brings no more bytes, so an answer that verifies so far is
// whole: its record is kept before the download ends. Nothing is written.
void TExchangeController::EndOnLineFailure()
{
    if (FDownloading) {
        StopDownload();
        if (FAssembler.State() == TAnswerAssembler::TState::asVerifiesSoFar) {
            const std::vector<uint8_t> answer = FAssembler.TakeAnswer();
            if (Frames::AnswerVerifies(answer) && Frames::AnswerKind(answer) == Frames::TAnswerKind::akRecord)
                RecordAnswer(answer);
        }
    }
    ForgetExchange();
}

void TExchangeController::AnswerTimerTimer()
{
    if (FAwaited && FDownloading && FAwaited->Copies < MaxRecordRequestCopies) {
        // A late answer to the earlier copy must not be taken for the next
        // record: what has arrived so far goes, and one more answer is owed.
        FAssembler.Drop();
        FWindow.StopTimer(TExchangeTimer::etSilence);
        OnTheLine([this] {
            FPort.ClearBuffer(true, false);
            SendRecordRequest(FPort, *FAwaited);
            Trace(TTraceNote::tnResent);
        });
        return;
    }

    const bool gaveUp = FAwaited && FDownloading;
    FOwedAnswers = 0;
    FAwaited.reset();
    if (gaveUp) {
        StopDownload();
        FWindow.ShowMessage(DeviceNotAnsweringMessage);
        return;
    }
    OnTheLine([this] { SendQueuedRequestIfLineFree(); });
}

// Only a running download asks for records: after Stop, or after a Start
// that failed before the download began, an answer still on its way ends
// it here whatever NextIndex holds.
void TExchangeController::RequestNextRecord(IExchangePort& Port)
{
    if (FDownloading && NextIndex > LowerBound) {
        const TRecordRequest request{NextIndex, Wrap32(int64_t{RowCounter} + 1), 0};
        if (FOwedAnswers > 0)
            FQueued = request;
        else
            SendRecordRequest(Port, request);
        NextIndex = Wrap32(int64_t{NextIndex} - 1);
        RowCounter = Wrap32(int64_t{RowCounter} + 1);
    } else {
        EndDownload();
    }
}

size_t TExchangeController::ReadArrived(int MaxReads)
{
    size_t total = 0;
    for (int reads = 0; reads < MaxReads; ++reads) {
        const auto space = FAssembler.FreeSpace();
        const int32_t count = FPort.Read(space);
        if (count <= 0) break;
        total += static_cast<size_t>(count);
        FAssembler.Commit(static_cast<size_t>(count));
        ProcessAssembled();
        if (static_cast<size_t>(count) < space.size()) break;
    }
    return total;
}

void TExchangeController::ProcessAssembled()
{
    using TState = TAnswerAssembler::TState;
    for (;;) {
        switch (FAssembler.State()) {
        case TState::asEmpty:
            FWindow.StopTimer(TExchangeTimer::etSilence);
            return;
        case TState::asComplete:
            ActOnAnswer(FAssembler.TakeAnswer());
            break;
        case TState::asOverflow:
            Trace(TTraceNote::tnDropped, FAssembler.Bytes());
            FAssembler.Drop();
            break;
        case TState::asVerifiesSoFar:
            FWindow.StartTimer(TExchangeTimer::etSilence, AnswerSilence());
            return;
        case TState::asIncomplete:
            FWindow.StartTimer(TExchangeTimer::etSilence, FragmentSilence);
            return;
        }
    }
}

void TExchangeController::ActOnAnswer(std::span<const uint8_t> Answer)
{
    const bool verifies = Frames::AnswerVerifies(Answer);
    Trace(verifies ? TTraceNote::tnAnswer : TTraceNote::tnDropped, Answer);
    if (!verifies) return;

    switch (Frames::AnswerKind(Answer)) {
    case Frames::TAnswerKind::akIdentify:
        FWindow.SetTimer1Enabled(false);
        FWindow.SetEditText(TEditBox::Version, Frames::VersionText(Answer));
        FPort.Write(Frames::SerialNumberRequest(DeviceAddress));
        break;
    case Frames::TAnswerKind::akSerialNumber:
        FWindow.SetEditText(TEditBox::Serial, Frames::SerialNumberText(Answer));
        FPort.Write(Frames::RecordCountRequest(DeviceAddress));
        break;
    case Frames::TAnswerKind::akRecordCount: {
        const int32_t count = Frames::RecordCount(Answer);
        FWindow.SetEditText(TEditBox::Index, IntToStr(count - 1));
        FWindow.SetEditText(TEditBox::Count, IntToStr(count));
        break;
    }
    case Frames::TAnswerKind::akRecord:
        RecordAnswer(Answer);
        break;
    case Frames::TAnswerKind::akRecordException:
        RecordExceptionAnswer();
        break;
    case Frames::TAnswerKind::akOther:
        break;
    }
}

void TExchangeController::RecordAnswer(std::span<const uint8_t> Answer)
{
    const auto request = RecordAnswerArrived();
    if (!request) {
        SendQueuedRequestIfLineFree();
        return;
    }
    FWindow.SetCell(0, request->Row, IntToStr(request->Row));
    FWindow.SetCell(1, request->Row, Frames::RecordText(Answer));
    FWindow.SetRowCount(FWindow.RowCount() + 1);
    FWindow.SetProgressPosition(Wrap32(int64_t{FWindow.ProgressPosition()} + 1));
    // A stopped download ends as its NextIndex below LowerBound says, also
    // when LowerBound - 1 wrapped around to the top.
    if (NextIndex < 0 || (!FDownloading && LowerBound <= 0)) {
        EndDownload();
        FWindow.SetProgressPosition(FWindow.ProgressMax());
    } else {
        RequestNextRecord(FPort);
    }
}

void TExchangeController::RecordExceptionAnswer()
{
    const auto request = RecordAnswerArrived();
    if (!request || !FDownloading) {
        SendQueuedRequestIfLineFree();
        return;
    }
    NextIndex = Wrap32(int64_t{LowerBound} + RequestedCount + 1);
    FWindow.SetProgressPosition(FWindow.ProgressMax());
    RequestNextRecord(FPort);
}

// One answer owed to a record request has come. Returns the request it
// answers, or nothing when no request awaits it (an answer to an earlier
// copy, or one that nothing asked for).
std::optional<TExchangeController::TRecordRequest> TExchangeController::RecordAnswerArrived()
{
    if (FOwedAnswers > 0) --FOwedAnswers;
    if (FOwedAnswers == 0)
        FWindow.StopTimer(TExchangeTimer::etAnswer);
    else
        FWindow.StartTimer(TExchangeTimer::etAnswer, AnswerTimeout());
    if (!FAwaited) Trace(TTraceNote::tnUnawaited);
    return std::exchange(FAwaited, std::nullopt);
}

void TExchangeController::SendRecordRequest(IExchangePort& Port, TRecordRequest Request)
{
    Port.Write(Frames::RecordRequest(DeviceAddress, Request.Index));
    ++Request.Copies;
    FAwaited = Request;
    ++FOwedAnswers;
    FWindow.StartTimer(TExchangeTimer::etAnswer, AnswerTimeout());
}

void TExchangeController::SendQueuedRequestIfLineFree()
{
    if (FOwedAnswers > 0 || !FQueued) return;
    const TRecordRequest request = *FQueued;
    FQueued.reset();
    SendRecordRequest(FPort, request);
}

// End 1 and end 2 of a download.
void TExchangeController::EndDownload()
{
    FDownloading = false;
    FQueued.reset();
    FWindow.SetControlEnabled(TWindowControl::Stop, false);
    FWindow.SetControlEnabled(TWindowControl::Start, true);
}

// An answer already on its way is still taken into the grid; no request
// follows it, and a record exception answer no longer starts the download
// again.
void TExchangeController::StopDownload()
{
    FWindow.SetControlEnabled(TWindowControl::Stop, false);
    FWindow.SetControlEnabled(TWindowControl::Start, true);
    NextIndex = Wrap32(int64_t{LowerBound} - 1);
    FDownloading = false;
    FQueued.reset();
}

// A closed or newly opened line owes nothing and holds nothing.
void TExchangeController::ForgetExchange()
{
    FAssembler.Drop();
    FWindow.StopTimer(TExchangeTimer::etSilence);
    FWindow.StopTimer(TExchangeTimer::etAnswer);
    FAwaited.reset();
    FQueued.reset();
    FOwedAnswers = 0;
}

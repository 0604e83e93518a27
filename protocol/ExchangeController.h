#pragma once
// Drives all traffic with the device: the connect handshake (identify, serial
// number, record count), the identify watchdog, and the download of the log
// one record at a time from a start index downwards.
//
// Every handler runs on the main thread, one at a time. The controller reaches
// the port and the window only through the operations of ExchangeOperations.h.
//
// Answers are assembled from what the line delivers and acted on only when
// whole and when their checksum holds. A record answer is taken only while a
// record request is awaiting one, and only a running download sends record
// requests. A request left unanswered is sent again; the next request then
// waits until every copy has been answered or the line has brought no answer
// for one more answer time-out. Answers carry no record index, so that is as
// far as a late answer can be told apart: one that comes within an answer
// time-out of the last copy sent (two of the first) is never taken for the
// next record; one that comes later still may be.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "protocol/AnswerAssembler.h"
#include "protocol/ExchangeOperations.h"

class TExchangeController {
public:
    static constexpr const char* DeviceNotAnsweringMessage = "Прибор не отвечает";
    // The first request and two more copies before the download gives up.
    static constexpr int MaxRecordRequestCopies = 3;

    TExchangeController(IExchangePort& Port, IExchangeWindow& Window) : FPort(Port), FWindow(Window) {}

    // The download state, all signed 32-bit and 0 at start.
    int32_t DeviceAddress = 0;  // put into every request; set by ConnectClick
    int32_t NextIndex = 0;      // record index of the next record request
    int32_t LowerBound = 0;     // requests go out while NextIndex is above it
    int32_t RequestedCount = 0; // the count given at Start
    int32_t RowCounter = 0;     // record requests sent since Start

    void ConnectClick();
    void DisconnectClick();
    void StartClick();
    void StopClick();
    void Timer1Timer();
    // Count, the number of bytes waiting, is not needed: everything waiting is read.
    void ComPort1RxChar(int32_t Count);
    void SilenceTimerTimer();
    void AnswerTimerTimer();
    void RequestNextRecord(IExchangePort& Port);

    // How long the line must stay quiet before a verified answer of open
    // length counts as whole: 3.5 characters of 11 bits, 1.75 ms above 19200 bit/s.
    std::chrono::microseconds AnswerSilence() const;
    // How long the pieces of an answer that does not verify yet may wait for
    // the rest (a USB adapter may deliver one answer in several packets).
    static constexpr std::chrono::microseconds FragmentSilence{50'000};
    // 1000 ms plus the time the longest answer (255 bytes) takes on the line.
    std::chrono::microseconds AnswerTimeout() const;

    // What the controller made of the line's traffic, for a trace of it.
    enum class TTraceNote : uint8_t {
        tnAnswer,    // a whole answer whose checksum holds; Bytes is the answer
        tnDropped,   // bytes that make no answer (checksum bad, cut short, too long)
        tnUnawaited, // the record answer just noted: no request awaits it, dropped
        tnResent,    // the record request just written was a copy of an unanswered one
    };
    // Optional; called on the main thread as the controller decides.
    std::function<void(TTraceNote Note, std::span<const uint8_t> Bytes)> OnTrace;

private:
    void Trace(TTraceNote Note, std::span<const uint8_t> Bytes = {})
    {
        if (OnTrace) OnTrace(Note, Bytes);
    }

    struct TRecordRequest {
        int32_t Index = 0;
        int32_t Row = 0;
        int Copies = 0; // how many times it went out
    };

    template <typename F>
    void OnTheLine(F&& Step);
    // Returns the number of bytes read.
    size_t ReadArrived(int MaxReads);
    void ProcessAssembled();
    void ActOnAnswer(std::span<const uint8_t> Answer);
    void RecordAnswer(std::span<const uint8_t> Answer);
    void RecordExceptionAnswer();
    std::optional<TRecordRequest> RecordAnswerArrived();
    void SendRecordRequest(IExchangePort& Port, TRecordRequest Request);
    void SendQueuedRequestIfLineFree();
    void EndDownload();
    void StopDownload();
    void ForgetExchange();

    IExchangePort& FPort;
    IExchangeWindow& FWindow;

    TAnswerAssembler FAssembler;
    int32_t FLineSpeed = 9600;
    bool FDownloading = false;
    // The record request whose answer fills the grid next.
    std::optional<TRecordRequest> FAwaited;
    // A request held back while answers to earlier copies may still come.
    std::optional<TRecordRequest> FQueued;
    // Record answers still to be expected: one per copy sent and not answered.
    int FOwedAnswers = 0;
};

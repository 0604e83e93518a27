#include "ui/cli/CliTrace.h"

#include <chrono>
#include <ctime>

#include "protocol/Frames.h"
#include "runtime/Convert.h"

namespace {

std::string TimeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    ::localtime_s(&local, &seconds);
#else
    ::localtime_r(&seconds, &local);
#endif
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string Hex2(uint8_t Byte)
{
    static const char Digits[] = "0123456789ABCDEF";
    return {Digits[Byte >> 4], Digits[Byte & 0x0F]};
}

std::string Quoted(const std::string& Text)
{
    return "\"" + Printable(Text) + "\"";
}

} // namespace

std::string HexBytes(std::span<const uint8_t> Bytes)
{
    std::string text;
    for (uint8_t byte : Bytes) {
        if (!text.empty()) text += ' ';
        text += Hex2(byte);
    }
    return text;
}

std::string Printable(const std::string& Text)
{
    std::string text;
    for (char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            text += "\\x" + Hex2(byte);
        else
            text += c;
    }
    return text;
}

std::string DescribeRequest(std::span<const uint8_t> Frame)
{
    if (Frame.size() < 2) return "request";
    const std::string to = ", address " + IntToStr(Frame[0]);
    switch (Frame[1]) {
    case Frames::fnReportSlaveId: return "identify request" + to;
    case Frames::fnReadHoldingRegisters: return "serial-number request" + to;
    case Frames::fnReadInputRegisters: return "record-count request" + to;
    case Frames::fnReadRecord:
        if (Frame.size() >= 9) return "record request" + to + ", index " + IntToStr(Frame[7] << 8 | Frame[8]);
        return "record request" + to;
    default: return "request, function 0x" + Hex2(Frame[1]) + to;
    }
}

std::string DescribeAnswer(std::span<const uint8_t> Answer)
{
    if (Answer.size() < 2) return "answer";
    const std::string from = " from address " + IntToStr(Answer[0]) + ", checksum good";
    switch (Frames::AnswerKind(Answer)) {
    case Frames::TAnswerKind::akIdentify:
        return "identify answer (0x11)" + from + ": version " + Quoted(Frames::VersionText(Answer));
    case Frames::TAnswerKind::akSerialNumber:
        return "serial-number answer (0x03)" + from + ": " + Frames::SerialNumberText(Answer);
    case Frames::TAnswerKind::akRecordCount:
        return "record-count answer (0x04)" + from + ": " + IntToStr(Frames::RecordCount(Answer)) + " records";
    case Frames::TAnswerKind::akRecord:
        return "record answer (0x41)" + from + ": " + Quoted(Frames::RecordText(Answer));
    case Frames::TAnswerKind::akRecordException:
        return "record exception answer (0xC1)" + from + ": no such record";
    case Frames::TAnswerKind::akOther: break;
    }
    return "answer with function 0x" + Hex2(Answer[1]) + from + ": not acted on";
}

void TCliTrace::Write(const std::string& Stamp, const std::string& Text)
{
    std::fprintf(FOutput, "%s %s\n", Stamp.c_str(), Text.c_str());
    std::fflush(FOutput);
}

void TCliTrace::Line(const std::string& Text)
{
    FlushReceived();
    Write(TimeStamp(), Text);
}

void TCliTrace::FlushReceived()
{
    if (FReceived.empty()) return;
    std::string text = "< " + HexBytes(FReceived);
    if (FReceivedReads > 1) {
        const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(FLastRead - FFirstRead).count();
        text += "  (" + IntToStr(FReceivedReads) + " reads over " + IntToStr(span) + " ms)";
    }
    FReceived.clear();
    FReceivedReads = 0;
    Write(FReceivedStamp, text);
}

void TCliTrace::Sent(std::span<const uint8_t> Frame)
{
    Line("> " + HexBytes(Frame) + "  " + DescribeRequest(Frame));
}

void TCliTrace::Received(std::span<const uint8_t> Bytes)
{
    const auto now = std::chrono::steady_clock::now();
    if (FReceived.empty()) {
        FReceivedStamp = TimeStamp();
        FFirstRead = now;
    }
    FLastRead = now;
    ++FReceivedReads;
    FReceived.insert(FReceived.end(), Bytes.begin(), Bytes.end());
}

void TCliTrace::Note(TExchangeController::TTraceNote Note, std::span<const uint8_t> Bytes)
{
    using TNote = TExchangeController::TTraceNote;
    switch (Note) {
    case TNote::tnAnswer:
        Line("  " + DescribeAnswer(Bytes));
        break;
    case TNote::tnDropped:
        if (Bytes.size() < Frames::MinAnswerLength)
            Line("  dropped: " + IntToStr(static_cast<int64_t>(Bytes.size())) + " bytes, cut short");
        else
            Line("  dropped: " + IntToStr(static_cast<int64_t>(Bytes.size())) + " bytes, function 0x" +
                 Hex2(Bytes[1]) + ", checksum bad");
        break;
    case TNote::tnUnawaited:
        Line("  dropped: no request awaits it");
        break;
    case TNote::tnResent:
        Line("  resent: the answer did not come whole in time");
        break;
    }
}

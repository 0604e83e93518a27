#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeExchange.h"
#include "protocol/ExchangeController.h"
#include "protocol/Frames.h"
#include "runtime/Exceptions.h"

using namespace std::chrono_literals;
using TTimer = TExchangeTimer;
using TCtl = TWindowControl;

namespace {

const char* const NotAnswering = "Прибор не отвечает";

class Controller : public testing::Test {
protected:
    TFakePort port;
    TFakeWindow window;
    TExchangeController c{port, window};
    size_t served = 0; // writes the simulated device has looked at

    // Bytes reach the line; the port's notification follows.
    void DeviceSends(const Bytes& b)
    {
        port.Arrive(b);
        c.ComPort1RxChar(static_cast<int32_t>(port.Input.size()));
    }
    // The line stays quiet until the controller's silence timer runs out.
    bool Silence()
    {
        if (!window.TimerRunning(TTimer::etSilence)) return false;
        window.StopTimer(TTimer::etSilence);
        c.SilenceTimerTimer();
        return true;
    }
    void DeviceAnswers(const Bytes& b)
    {
        DeviceSends(b);
        Silence();
    }
    void AnswerTimeout()
    {
        ASSERT_TRUE(window.TimerRunning(TTimer::etAnswer));
        window.StopTimer(TTimer::etAnswer);
        c.AnswerTimerTimer();
    }
    void Connect(uint16_t Records)
    {
        c.ConnectClick();
        DeviceAnswers(IdentifyAnswer(1, "V1.02"));
        DeviceAnswers(SerialNumberAnswer(1, 123456));
        DeviceAnswers(RecordCountAnswer(1, Records));
        served = port.Written.size();
    }
    void SetRange(const std::string& Index, const std::string& Count)
    {
        window.Edits[TEditBox::Index] = Index;
        window.Edits[TEditBox::Count] = Count;
    }
    static int32_t RequestedIndex(const Bytes& Frame) { return Frame[7] << 8 | Frame[8]; }
    std::vector<int32_t> RecordRequests() const
    {
        std::vector<int32_t> indices;
        for (const Bytes& f : port.Written)
            if (f.size() == 11 && f[1] == 0x41) indices.push_back(RequestedIndex(f));
        return indices;
    }
    // Plays a device that holds Log: the newest record request is answered
    // at once, as long as the controller keeps asking.
    void ServeRecords(const std::vector<std::string>& Log)
    {
        while (served < port.Written.size()) {
            served = port.Written.size();
            const Bytes frame = port.Written.back();
            if (frame[1] != 0x41) continue;
            const auto index = static_cast<size_t>(RequestedIndex(frame));
            DeviceAnswers(index < Log.size() ? RecordAnswer(1, Log[index]) : RecordExceptionAnswer(1));
        }
    }
    static std::vector<std::string> MakeLog(int n)
    {
        std::vector<std::string> log;
        for (int i = 0; i < n; ++i) log.push_back("event " + std::to_string(i));
        return log;
    }
    // Grid lines of a whole download of Log: index N-1 first, then one empty row.
    static std::vector<std::string> ExpectedGrid(const std::vector<std::string>& Log)
    {
        std::vector<std::string> lines;
        for (size_t row = 1; row <= Log.size(); ++row) lines.push_back(std::to_string(row) + " " + Log[Log.size() - row]);
        lines.push_back(" ");
        return lines;
    }
};

// --- the handshake -----------------------------------------------------------

TEST_F(Controller, ConnectIdentifiesTheDevice)
{
    c.ConnectClick();
    EXPECT_EQ(window.SettingsWritten, (std::vector<std::string>{"/dev/ttyUSB0|19200|1"}));
    EXPECT_EQ(port.Log, (std::vector<std::string>{"Port /dev/ttyUSB0", "BaudRate 9", "Open", "Write 01 11 C0 2C"}));
    EXPECT_FALSE(window.Enabled(TCtl::Con_setting));
    EXPECT_FALSE(window.Enabled(TCtl::Connect));
    EXPECT_TRUE(window.Enabled(TCtl::Disconnect));
    EXPECT_TRUE(window.Timer1);
    EXPECT_EQ(c.DeviceAddress, 1);

    DeviceAnswers(IdentifyAnswer(1, "V1.02"));
    EXPECT_FALSE(window.Timer1);
    EXPECT_EQ(window.EditText(TEditBox::Version), "V1.02");
    EXPECT_EQ(port.Log.back(), "Write 01 03 80 06 00 02 0D CA");

    DeviceAnswers(SerialNumberAnswer(1, 123456));
    EXPECT_EQ(window.EditText(TEditBox::Serial), "123456");
    EXPECT_EQ(port.Log.back(), "Write 01 04 40 0B 00 01 55 C8");

    DeviceAnswers(RecordCountAnswer(1, 700));
    EXPECT_EQ(window.EditText(TEditBox::Index), "699");
    EXPECT_EQ(window.EditText(TEditBox::Count), "700");
    EXPECT_EQ(port.Written.size(), 3u); // the handshake ends there
    EXPECT_TRUE(window.Messages.empty());
}

TEST_F(Controller, AddressIsTakenAsItsLowByte)
{
    window.Edits[TEditBox::Adder] = "256";
    c.ConnectClick();
    EXPECT_EQ(port.Written.back()[0], 0x00);
    c.DisconnectClick();
    window.Edits[TEditBox::Adder] = "-1";
    c.ConnectClick();
    EXPECT_EQ(port.Written.back()[0], 0xFF);
    EXPECT_EQ(c.DeviceAddress, -1);
}

TEST_F(Controller, AnswersTheToolDoesNotKnowStopTheHandshakeSilently)
{
    c.ConnectClick();
    DeviceAnswers(IdentifyAnswer(1, "V1"));
    DeviceAnswers(Framed({1, 0x83, 0x02})); // exception answer to the serial-number request
    DeviceAnswers(Framed({1, 0x10, 0x00, 0x00}));
    EXPECT_EQ(port.Written.size(), 2u);
    EXPECT_EQ(window.EditText(TEditBox::Serial), "");
    EXPECT_FALSE(window.Timer1);
    EXPECT_TRUE(window.Messages.empty());
}

TEST_F(Controller, AddressThatIsNoNumberLeavesThePortOpenAndSendsNothing)
{
    window.Edits[TEditBox::Adder] = "abc";
    c.DeviceAddress = 7;
    try {
        c.ConnectClick();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    EXPECT_TRUE(port.IsOpen);
    EXPECT_FALSE(window.Enabled(TCtl::Connect));
    EXPECT_TRUE(window.Enabled(TCtl::Disconnect));
    EXPECT_EQ(c.DeviceAddress, 7);
    EXPECT_TRUE(port.Written.empty());
    EXPECT_FALSE(window.Timer1);
    c.DisconnectClick(); // recovers
    EXPECT_FALSE(port.IsOpen);
    EXPECT_TRUE(window.Enabled(TCtl::Connect));
}

TEST_F(Controller, PortThatCannotOpenLeavesTheControlsAlone)
{
    port.OpenError = "Unable to open com port (Error: 2)";
    EXPECT_THROW(c.ConnectClick(), Exception);
    EXPECT_EQ(window.SettingsWritten.size(), 1u); // written before the open
    EXPECT_TRUE(window.Enabled(TCtl::Connect));
    EXPECT_TRUE(window.Enabled(TCtl::Con_setting));
    EXPECT_FALSE(window.Enabled(TCtl::Disconnect));
    EXPECT_TRUE(port.Written.empty());
    EXPECT_FALSE(window.Timer1);
}

// --- the watchdog ----------------------------------------------------------

TEST_F(Controller, WatchdogClosesThePortWhenTheDeviceIsSilent)
{
    c.ConnectClick();
    c.Timer1Timer();
    EXPECT_FALSE(window.Timer1);
    EXPECT_FALSE(port.IsOpen);
    EXPECT_TRUE(window.Enabled(TCtl::Connect));
    EXPECT_TRUE(window.Enabled(TCtl::Con_setting));
    EXPECT_FALSE(window.Enabled(TCtl::Disconnect));
    EXPECT_EQ(window.Messages, (std::vector<std::string>{NotAnswering}));
}

TEST_F(Controller, DisconnectStopsTheWatchdogAndReconnectGetsItsOwnCountdown)
{
    c.ConnectClick();
    c.DisconnectClick();
    EXPECT_FALSE(window.Timer1); // no "device not answering" after the operator left
    c.ConnectClick();
    EXPECT_TRUE(window.Timer1);
    EXPECT_EQ(window.Timer1Starts, 2);
}

// --- downloads -------------------------------------------------------------

TEST_F(Controller, StartAfterHandshakeFetchesTheWholeLog)
{
    const auto log = MakeLog(5);
    Connect(5);
    c.StartClick();
    EXPECT_FALSE(window.Enabled(TCtl::Start));
    EXPECT_TRUE(window.Enabled(TCtl::Stop));
    ServeRecords(log);
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{4, 3, 2, 1, 0}));
    EXPECT_EQ(window.GridLines(), ExpectedGrid(log));
    EXPECT_EQ(window.Rows, 7);
    EXPECT_EQ(window.Position, 5);
    EXPECT_EQ(window.Max, 5);
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
}

TEST_F(Controller, DownloadRangesEndOneOfTwoWays)
{
    struct Case { const char* index; const char* count; std::vector<int32_t> requests; int32_t position, max; };
    const Case cases[] = {
        {"99", "10", {99, 98, 97, 96, 95, 94, 93, 92, 91, 90}, 10, 10}, // end 1: the bar is not forced full
        {"5", "100", {5, 4, 3, 2, 1, 0}, 100, 100},                     // end 2: the bar is full
        {"0", "1000", {0}, 1000, 1000},                                 // the values after start-up
        {"-1", "0", {}, 0, 0},                                          // a device holding no record
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.index) + "/" + k.count);
        port = TFakePort{};
        window = TFakeWindow{};
        served = 0;
        Connect(200);
        SetRange(k.index, k.count);
        c.StartClick();
        ServeRecords(MakeLog(200));
        EXPECT_EQ(RecordRequests(), k.requests);
        EXPECT_EQ(window.Rows, static_cast<int32_t>(k.requests.size()) + 2);
        EXPECT_EQ(window.Position, k.position);
        EXPECT_EQ(window.Max, k.max);
        EXPECT_TRUE(window.Enabled(TCtl::Start));
        EXPECT_FALSE(window.Enabled(TCtl::Stop));
    }
}

TEST_F(Controller, StartClearsTheGridBelowTheHeader)
{
    Connect(3);
    window.Rows = 6;
    for (int row = 1; row < 8; ++row) window.SetCell(1, row, "old");
    SetRange("-1", "0");
    c.StartClick();
    EXPECT_EQ(window.Rows, 2);
    for (int row = 1; row < 6; ++row) EXPECT_EQ(window.Cell(1, row), "") << row;
    EXPECT_EQ(window.Cell(1, 7), "old"); // beyond the row count: not shown, not touched
    EXPECT_EQ(window.Cell(0, 0), "Номер");
    EXPECT_EQ(window.Cell(1, 0), "Ответ");
}

TEST_F(Controller, StopKeepsTheRecordOnItsWayAndAsksForNoMore)
{
    const auto log = MakeLog(50);
    Connect(50);
    c.StartClick();
    DeviceAnswers(RecordAnswer(1, log[49]));
    c.StopClick(); // the request for 48 is on its way
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_EQ(c.NextIndex, c.LowerBound - 1);
    DeviceAnswers(RecordAnswer(1, log[48]));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{49, 48}));
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{"1 event 49", "2 event 48", " "}));
    EXPECT_EQ(window.Position, 50); // LowerBound is 0: end 2 fills the bar
}

TEST_F(Controller, RecordExceptionAskingForTheStartIndexPlusOne)
{
    const auto log = MakeLog(10);
    Connect(10);
    SetRange("3", "2"); // indices 3 and 2
    c.StartClick();
    DeviceAnswers(RecordExceptionAnswer(1));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 4}));
    EXPECT_EQ(window.Position, 2);
    ServeRecords(log);
    // Row 1 belonged to the request that drew the exception and stays empty.
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{" ", "2 event 4", "3 event 3", "4 event 2"}));
}

TEST_F(Controller, AfterStopAnExceptionAnswerNoLongerRestarts)
{
    Connect(10);
    c.StartClick();
    c.StopClick();
    DeviceAnswers(RecordExceptionAnswer(1));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9}));
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
}

TEST_F(Controller, StartWhileNotConnectedClearsTheGridThenFails)
{
    window.Rows = 4;
    window.SetCell(1, 2, "old");
    try {
        c.StartClick();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Port Not Open");
    }
    EXPECT_EQ(window.Rows, 2);
    EXPECT_EQ(window.Cell(1, 2), "");
    EXPECT_FALSE(window.Enabled(TCtl::Start));
    EXPECT_TRUE(window.Enabled(TCtl::Stop));
    EXPECT_EQ(c.NextIndex, 0);
    EXPECT_EQ(c.RowCounter, 0);
    c.StopClick();
    EXPECT_TRUE(window.Enabled(TCtl::Start));
}

TEST_F(Controller, RangeThatIsNoNumberFailsBeforeAnythingChanges)
{
    struct Case { const char* index; const char* count; const char* message; int32_t nextIndex; };
    const Case cases[] = {
        {"x", "10", "'x' is not a valid integer value", 77},
        {"12", "ten", "'ten' is not a valid integer value", 12}, // NextIndex is already set
    };
    for (const Case& k : cases) {
        c.NextIndex = 77;
        window.Rows = 5;
        SetRange(k.index, k.count);
        try {
            c.StartClick();
            FAIL();
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), k.message);
        }
        EXPECT_EQ(c.NextIndex, k.nextIndex);
        EXPECT_EQ(window.Rows, 5);
        EXPECT_TRUE(window.Enabled(TCtl::Start));
        EXPECT_FALSE(window.Enabled(TCtl::Stop));
    }
}

TEST_F(Controller, NegativeCountIsRefusedByTheProgressBar)
{
    Connect(10);
    window.Rows = 5;
    SetRange("20", "-3");
    try {
        c.StartClick();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "TProgressBar property out of range");
    }
    EXPECT_EQ(c.NextIndex, 20);
    EXPECT_EQ(c.LowerBound, 23);
    EXPECT_EQ(window.Rows, 5);
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_EQ(RecordRequests(), std::vector<int32_t>{});
}

TEST_F(Controller, IndicesPast4095AreFetchedRecordByRecord)
{
    const auto log = MakeLog(5000);
    Connect(5000);
    SetRange("4097", "3");
    c.StartClick();
    ServeRecords(log);
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{4097, 4096, 4095}));
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{"1 event 4097", "2 event 4096", "3 event 4095", " "}));
}

// --- answers are read whole and checked ------------------------------------

TEST_F(Controller, AnswerArrivingInPiecesIsTakenWhole)
{
    // At 1200 bit/s a 250-character record arrives over two seconds, a few
    // bytes per notification.
    std::string text;
    for (int i = 0; i < 250; ++i) text += static_cast<char>('A' + i % 26);
    Connect(1);
    c.StartClick();
    const Bytes answer = RecordAnswer(1, text);
    for (size_t at = 0; at < answer.size(); at += 12) {
        DeviceSends(Bytes(answer.begin() + static_cast<ptrdiff_t>(at),
                          answer.begin() + static_cast<ptrdiff_t>(std::min(at + 12, answer.size()))));
        if (at + 12 < answer.size()) {
            EXPECT_EQ(window.Rows, 2) << "acted on a piece at " << at;
        }
    }
    // 255 bytes fill the buffer: nothing can follow, so no silence is needed.
    EXPECT_EQ(window.Cell(1, 1), text);
    EXPECT_EQ(window.Rows, 3);
}

TEST_F(Controller, PiecesSplitByAGapAreJoinedAndTheRecordWaitsForSilence)
{
    Connect(2);
    c.StartClick();
    const Bytes answer = RecordAnswer(1, "first half, second half");
    DeviceSends(Bytes(answer.begin(), answer.begin() + 10));
    // An answer that does not verify yet gets the long wait for the rest.
    EXPECT_EQ(window.Timers.at(TTimer::etSilence), TExchangeController::FragmentSilence);
    DeviceSends(Bytes(answer.begin() + 10, answer.end()));
    EXPECT_EQ(window.Timers.at(TTimer::etSilence), c.AnswerSilence());
    EXPECT_EQ(window.Rows, 2); // not before the line is quiet
    Silence();
    EXPECT_EQ(window.Cell(1, 1), "first half, second half");
}

// Once the device's first record answers have shown that position 2 gives
// their length, a record answer is acted on as soon as it is in; until then,
// and for devices whose position 2 means something else, after the silence.
TEST_F(Controller, RecordAnswersSkipTheSilenceOnlyOnceTheirByteCountHasAgreed)
{
    const auto counted = [](uint8_t Count, const std::string& Text) {
        return Framed(Concat({1, 0x41, Count}, Ascii(Text)));
    };
    const auto text = [&](int, const std::string& t) { return counted(static_cast<uint8_t>(t.size()), t); };
    const auto all = [&](int, const std::string& t) { return counted(static_cast<uint8_t>(t.size() + 2), t); };
    const auto zero = [&](int, const std::string& t) { return counted(0, t); };
    const auto random = [&](int Row, const std::string& t) { return counted(static_cast<uint8_t>(Row * 97 + 13), t); };
    const auto fourthDisagrees = [&](int Row, const std::string& t) {
        return Row == 4 ? counted(static_cast<uint8_t>(t.size() + 1), t) : text(Row, t);
    };
    const std::vector<std::string> log = MakeLog(8);
    const struct {
        const char* Name;
        std::function<Bytes(int Row, const std::string& Text)> Answer;
        std::vector<int> RowsAfterSilence;
    } cases[] = {
        {"text counted", text, {1, 2, 3}},
        {"text counted, connected again: learnt anew", text, {1, 2, 3}},
        {"all after it counted", all, {1, 2, 3}},
        {"zero", zero, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"a count that tells nothing", random, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"withdrawn by a disagreeing answer", fourthDisagrees, {1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& k : cases) {
        c.DisconnectClick();
        Connect(static_cast<uint16_t>(log.size()));
        c.StartClick();
        std::vector<int> afterSilence;
        for (int row = 1; row <= static_cast<int>(log.size()); ++row) {
            const Bytes request = port.Written.back();
            ASSERT_EQ(RecordRequests().back(), static_cast<int32_t>(log.size()) - row) << k.Name;
            DeviceSends(k.Answer(row, log[static_cast<size_t>(RequestedIndex(request))]));
            if (Silence()) afterSilence.push_back(row);
            ASSERT_EQ(window.Rows, row + 2) << k.Name << ": row " << row << " not taken";
        }
        EXPECT_EQ(afterSilence, k.RowsAfterSilence) << k.Name;
        EXPECT_EQ(window.GridLines(), ExpectedGrid(log)) << k.Name;
        EXPECT_TRUE(window.Enabled(TCtl::Start)) << k.Name;
    }
}

// Under a believed count, a late answer and the answer to the copy sent
// again may come in one read: both are cut apart, and the late one is not
// taken for the next record.
TEST_F(Controller, BackToBackAnswersUnderABelievedCountAreCutApart)
{
    const std::vector<std::string> log = MakeLog(6);
    Connect(6);
    c.StartClick();
    for (int row = 1; row <= 3; ++row) DeviceAnswers(RecordAnswer(1, log[static_cast<size_t>(6 - row)]));
    ASSERT_EQ(RecordRequests(), (std::vector<int32_t>{5, 4, 3, 2}));
    AnswerTimeout();
    ASSERT_EQ(RecordRequests(), (std::vector<int32_t>{5, 4, 3, 2, 2}));
    DeviceSends(Concat(RecordAnswer(1, log[2]), RecordAnswer(1, log[2])));
    EXPECT_FALSE(window.TimerRunning(TTimer::etSilence));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{5, 4, 3, 2, 2, 1}));
    DeviceSends(RecordAnswer(1, log[1]));
    DeviceSends(RecordAnswer(1, log[0]));
    EXPECT_EQ(window.GridLines(), ExpectedGrid(log));
}

TEST_F(Controller, SilenceIntervalsFollowTheLineSpeed)
{
    struct Case { const char* speed; std::chrono::microseconds silence, timeout; };
    const Case cases[] = {
        {"1200", 32084us, 1000ms + 2125ms},
        {"9600", 4011us, 1000ms + 265625us},
        {"19200", 2006us, 1000ms + 132813us},
        {"38400", 1750us, 1000ms + 66407us},
        {"115200", 1750us, 1000ms + 22136us},
    };
    for (const Case& k : cases) {
        window.Selected[TDropDown::Speed] = k.speed;
        c.ConnectClick();
        EXPECT_EQ(c.AnswerSilence(), k.silence) << k.speed;
        EXPECT_EQ(c.AnswerTimeout(), k.timeout) << k.speed;
        c.DisconnectClick();
    }
}

TEST_F(Controller, FixedLengthAnswersNeedNoSilenceAndTwoInOneReadAreBothTaken)
{
    c.ConnectClick();
    DeviceSends(IdentifyAnswer(1, "V2"));
    EXPECT_EQ(window.EditText(TEditBox::Version), "V2");
    EXPECT_FALSE(window.TimerRunning(TTimer::etSilence));
    // A serial-number answer and the first half of a record-count answer.
    const Bytes count = RecordCountAnswer(1, 12);
    DeviceSends(Concat(SerialNumberAnswer(1, 77), Bytes(count.begin(), count.begin() + 3)));
    EXPECT_EQ(window.EditText(TEditBox::Serial), "77");
    DeviceSends(Bytes(count.begin() + 3, count.end()));
    EXPECT_EQ(window.EditText(TEditBox::Count), "12");
}

TEST_F(Controller, BytesThatNeverVerifyAreDroppedAfterTheLongSilence)
{
    Connect(3);
    c.StartClick();
    DeviceSends(Bytes{0x01, 0x41, 0x07, 'n', 'o', 'i', 's', 'e'});
    EXPECT_TRUE(Silence());
    EXPECT_EQ(window.Rows, 2);
    DeviceAnswers(RecordAnswer(1, "event 2"));
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{"1 event 2", " "}));
}

TEST_F(Controller, SilenceIsNotJudgedWhileBytesWaitUnread)
{
    Connect(3);
    c.StartClick();
    const Bytes answer = RecordAnswer(1, "event 2");
    DeviceSends(Bytes(answer.begin(), answer.begin() + 4));
    port.Arrive(Bytes(answer.begin() + 4, answer.end())); // its notification is still on its way
    EXPECT_TRUE(Silence());
    EXPECT_EQ(window.Rows, 2);
    EXPECT_TRUE(Silence());
    EXPECT_EQ(window.Cell(1, 1), "event 2");
}

// A read that brings as many bytes as the complete answer it finishes takes
// off the front leaves the buffer as long as before: that is no silence.
TEST_F(Controller, SilenceTimerCountsTheBytesItReadsNotTheBufferLength)
{
    c.ConnectClick();
    DeviceAnswers(IdentifyAnswer(1, "V2"));
    const Bytes serial = SerialNumberAnswer(1, 77);
    const Bytes count = RecordCountAnswer(1, 12);
    DeviceSends(Bytes(serial.begin(), serial.begin() + 4));
    // The rest of the serial number and the start of the record count,
    // before their notification is handled.
    port.Arrive(Concat(Bytes(serial.begin() + 4, serial.end()), Bytes(count.begin(), count.begin() + 4)));
    EXPECT_TRUE(Silence());
    EXPECT_EQ(window.EditText(TEditBox::Serial), "77");
    DeviceSends(Bytes(count.begin() + 4, count.end()));
    EXPECT_EQ(window.EditText(TEditBox::Count), "12");
}

TEST_F(Controller, AnswerWithABadChecksumIsNotActedOn)
{
    c.ConnectClick();
    Bytes identify = IdentifyAnswer(1, "V1.02");
    identify[4] ^= 0x20;
    DeviceAnswers(identify);
    EXPECT_EQ(window.EditText(TEditBox::Version), "");
    EXPECT_TRUE(window.Timer1); // the watchdog still guards the handshake
    EXPECT_EQ(port.Written.size(), 1u);
}

TEST_F(Controller, RecordWhoseChecksumHoldsAZeroKeepsItsWholeText)
{
    std::string text;
    for (int i = 0;; ++i) {
        text = "record " + std::to_string(i);
        const Bytes a = RecordAnswer(1, text);
        if (a[a.size() - 1] == 0 || a[a.size() - 2] == 0) break;
    }
    Connect(1);
    c.StartClick();
    DeviceAnswers(RecordAnswer(1, text));
    EXPECT_EQ(window.Cell(1, 1), text);
}

// --- a download never stalls silently, and never shifts -------------------

TEST_F(Controller, DroppedOrCorruptedAnswerIsFetchedAgainForTheSameRow)
{
    const auto log = MakeLog(4);
    Connect(4);
    c.StartClick(); // asks for 3; its answer is lost
    AnswerTimeout();
    EXPECT_EQ(port.Log[port.Log.size() - 2], "ClearBuffer input");
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 3}));
    DeviceAnswers(RecordAnswer(1, log[3]));
    // The answer to the lost copy might still come: the next request waits
    // for the answer time-out.
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 3}));
    AnswerTimeout();
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 3, 2}));

    Bytes corrupted = RecordAnswer(1, log[2]);
    corrupted[5] ^= 0x01;
    DeviceAnswers(corrupted);
    EXPECT_EQ(window.Rows, 3);
    AnswerTimeout();
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 3, 2, 2}));
    DeviceAnswers(RecordAnswer(1, log[2]));
    AnswerTimeout();
    ServeRecords(log);
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{3, 3, 2, 2, 1, 0}));
    EXPECT_EQ(window.GridLines(), ExpectedGrid(log));
    EXPECT_TRUE(window.Messages.empty());
}

TEST_F(Controller, LateAnswerWithinAnAnswerTimeoutIsNotTakenForTheNextRecord)
{
    const auto log = MakeLog(3);
    Connect(3);
    c.StartClick(); // asks for 2
    AnswerTimeout(); // asks for 2 again
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{2, 2}));
    DeviceAnswers(RecordAnswer(1, log[2])); // the first copy's answer, late
    EXPECT_EQ(window.Cell(1, 1), "event 2");
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{2, 2})); // waits for the second copy's answer
    DeviceAnswers(RecordAnswer(1, log[2]));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{2, 2, 1}));
    ServeRecords(log);
    EXPECT_EQ(window.GridLines(), ExpectedGrid(log));
}

// The limit the controller's guarantee names: answers carry no index, so an
// answer to the first copy that comes after the second copy's answer and a
// whole answer time-out more fills the next record's row.
TEST_F(Controller, AnswerLaterThanTheWaitAfterTheLastCopyIsTakenForTheNextRecord)
{
    const auto log = MakeLog(3);
    Connect(3);
    c.StartClick();  // asks for 2
    AnswerTimeout(); // asks for 2 again
    DeviceAnswers(RecordAnswer(1, log[2]));
    AnswerTimeout(); // no second answer: the request for 1 goes out
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{2, 2, 1}));
    DeviceAnswers(RecordAnswer(1, log[2])); // the first copy's answer, very late
    EXPECT_EQ(window.Cell(1, 2), "event 2");
}

TEST_F(Controller, ProgressPositionWrapsLikeTheOtherCounters)
{
    // Count 2147483647: the exception answer fills the bar to the top, and
    // the record answer after it adds one more.
    const auto log = MakeLog(10);
    Connect(10);
    SetRange("5", "2147483647");
    c.StartClick();
    DeviceAnswers(RecordExceptionAnswer(1));
    EXPECT_EQ(window.Position, 2147483647);
    DeviceAnswers(RecordAnswer(1, log[6]));
    EXPECT_EQ(window.Cell(1, 2), "event 6");
    EXPECT_EQ(window.Position, 0); // -2147483648, held at the bar's minimum
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{5, 6, 5}));
}

TEST_F(Controller, NoRecordRequestGoesOutWhileNoDownloadRuns)
{
    struct Case {
        const char* name;
        const char* index;
        const char* count;
        // What happens between the request for the start index going out and its answer.
        std::function<void()> meanwhile;
        int32_t position; // after the answer
    };
    const Case cases[] = {
        // LowerBound is -2147483648: Stop sets NextIndex to 2147483647.
        {"stop with the lower bound at the bottom", "-1", "2147483647", [this] { c.StopClick(); }, 2147483647},
        // NextIndex is set to 5 before the count fails.
        {"a start that fails on its count after a stop", "9", "10",
         [this] {
             c.StopClick();
             SetRange("5", "ten");
             EXPECT_THROW(c.StartClick(), EConvertError);
         },
         10},
        {"the same above index 0", "19", "10",
         [this] {
             c.StopClick();
             SetRange("15", "ten");
             EXPECT_THROW(c.StartClick(), EConvertError);
         },
         1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        port = TFakePort{};
        window = TFakeWindow{};
        served = 0;
        Connect(10);
        SetRange(k.index, k.count);
        c.StartClick();
        const auto requests = RecordRequests();
        ASSERT_EQ(requests.size(), 1u);
        k.meanwhile();
        DeviceAnswers(RecordAnswer(1, "on its way"));
        EXPECT_EQ(window.Cell(1, 1), "on its way");
        EXPECT_EQ(RecordRequests(), requests);
        EXPECT_EQ(window.Position, k.position);
        EXPECT_TRUE(window.Enabled(TCtl::Start));
        EXPECT_FALSE(window.Enabled(TCtl::Stop));
        EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
    }
}

TEST_F(Controller, ThreeUnansweredCopiesEndTheDownloadWithAMessage)
{
    Connect(10);
    c.StartClick();
    AnswerTimeout();
    AnswerTimeout();
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9, 9, 9}));
    AnswerTimeout();
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9, 9, 9}));
    EXPECT_EQ(window.Messages, (std::vector<std::string>{NotAnswering}));
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_EQ(c.NextIndex, c.LowerBound - 1);
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
    // Even an exception answer arriving now does not start it again.
    DeviceAnswers(RecordExceptionAnswer(1));
    EXPECT_EQ(RecordRequests().size(), 3u);
}

TEST_F(Controller, AnswerNobodyAskedForIsDropped)
{
    const auto log = MakeLog(10);
    Connect(10);
    SetRange("9", "1");
    c.StartClick();
    DeviceAnswers(RecordAnswer(1, log[9]));
    DeviceAnswers(RecordAnswer(1, log[9])); // the device repeats itself after the end
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9}));
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{"1 event 9", " "}));
}

TEST_F(Controller, RestartWhileTheStoppedAnswerIsOnItsWay)
{
    const auto log = MakeLog(10);
    Connect(10);
    c.StartClick(); // asks for 9
    c.StopClick();
    SetRange("5", "2");
    c.StartClick(); // waits: the answer for 9 may still come
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9}));
    DeviceAnswers(RecordAnswer(1, log[9]));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9, 5}));
    ServeRecords(log);
    EXPECT_EQ(window.GridLines(), (std::vector<std::string>{"1 event 5", "2 event 4", " "}));
}

TEST_F(Controller, DisconnectDuringADownloadLeavesItStalledWithoutRetries)
{
    Connect(10);
    c.StartClick();
    c.DisconnectClick();
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
    EXPECT_TRUE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.Enabled(TCtl::Start));
    c.StopClick();
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_TRUE(window.Messages.empty());
}

} // namespace

namespace {

class FailingLine : public Controller {};

TEST_F(FailingLine, AFailingResendEndsTheDownloadAndReportsTheError)
{
    Connect(10);
    c.StartClick();
    port.IsOpen = false; // the adapter is pulled out
    EXPECT_THROW(AnswerTimeout(), Exception);
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
}

TEST_F(FailingLine, AFailingQueuedRequestInTheAnswerTimerEndsTheDownload)
{
    // The request for 8 waits for the answer to the first copy of 9; the
    // adapter goes before the answer time-out sends it.
    const auto log = MakeLog(10);
    Connect(10);
    c.StartClick();
    AnswerTimeout();
    DeviceAnswers(RecordAnswer(1, log[9]));
    ASSERT_EQ(RecordRequests(), (std::vector<int32_t>{9, 9}));
    port.FailWrites = true;
    EXPECT_THROW(AnswerTimeout(), Exception);
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
    EXPECT_FALSE(window.TimerRunning(TTimer::etSilence));
    // Nothing is left queued for a later answer to set off.
    port.FailWrites = false;
    DeviceAnswers(RecordAnswer(1, log[9]));
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9, 9}));
}

TEST_F(FailingLine, AFailingWriteInTheReceiveNotificationIsReportedAndEndsTheDownload)
{
    // A failure inside the notification goes back to the port's hand-over,
    // so its box is posted for later.
    Connect(10);
    c.StartClick();
    const Bytes full = RecordAnswer(1, std::string(250, 'x'));
    port.Arrive(full);
    port.FailWrites = true;
    EXPECT_THROW(c.ComPort1RxChar(255), Exception);
    EXPECT_EQ(window.Errors, std::vector<std::string>{"WriteFile function failed (Error: 5)"});
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
}

TEST_F(FailingLine, AFailingReadEndsTheDownloadAndReportsTheError)
{
    Connect(10);
    c.StartClick();
    const Bytes answer = RecordAnswer(1, "event 9");
    DeviceSends(Bytes(answer.begin(), answer.begin() + 5));
    port.IsOpen = false;
    EXPECT_THROW(Silence(), Exception);
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
    EXPECT_FALSE(window.TimerRunning(TTimer::etSilence));
}

TEST_F(FailingLine, AWholeAnswerBeforeTheLineFailsIsKept)
{
    // The adapter goes while the last record's silence is being judged: no
    // byte can follow any more, so the record is whole and must not be lost.
    const auto log = MakeLog(10);
    Connect(10);
    c.StartClick();
    DeviceSends(RecordAnswer(1, log[9]));
    port.IsOpen = false;
    EXPECT_THROW(Silence(), Exception);
    EXPECT_EQ(window.Cell(0, 1), "1");
    EXPECT_EQ(window.Cell(1, 1), log[9]);
    EXPECT_EQ(RecordRequests(), (std::vector<int32_t>{9}));
    EXPECT_TRUE(window.Enabled(TCtl::Start));
    EXPECT_FALSE(window.Enabled(TCtl::Stop));
    EXPECT_FALSE(window.TimerRunning(TTimer::etAnswer));
}

} // namespace

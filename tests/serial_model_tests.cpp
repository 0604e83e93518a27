// The serial line services against a model of the kernel's side of real
// UARTs and USB adapters (KernelModel.h): what a pseudo-terminal cannot show.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "KernelModel.h"
#include "PtyLine.h"
#include "runtime/MainThread.h"
#include "serial/ComPort.h"
#include "serial/ComText.h"
#include "serial/EComPort.h"
#include "serial/platform/PosixSysCalls.h"

using namespace std::chrono_literals;

namespace {

const char* KindName(TPortKind Kind)
{
    switch (Kind) {
    case TPortKind::Uart: return "UART";
    case TPortKind::FtdiAdapter: return "FTDI adapter";
    case TPortKind::CdcAcm: return "CDC-ACM port";
    }
    return "?";
}

class ModelLine : public testing::Test {
protected:
    TKernelModel kernel;
    std::filesystem::path lockFolder;
    std::unique_ptr<SerialPlatform::TPlatform> platform;
    std::unique_ptr<TComPort> port;
    TModelPort* line = nullptr;
    std::string path;

    void SetUp() override
    {
        lockFolder = std::filesystem::temp_directory_path() /
                     ("serial-locks-" + std::to_string(::getpid()) + "-" +
                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(lockFolder);
        std::filesystem::create_directories(lockFolder);
        platform = SerialPlatform::MakePosixPlatform(kernel, lockFolder.string());
    }

    void TearDown() override
    {
        port.reset();
        kernel.BeforeSettingsWake = nullptr;
        kernel.BetweenSettingsWakes = nullptr;
        kernel.AfterWriteQueued = nullptr;
        std::filesystem::remove_all(lockFolder);
    }

    // A port of the kind at Path, its component set to 9600 8N1 and watching
    // no events unless the test asks for them.
    void Use(TPortKind Kind, const std::string& Path = "/dev/ttyS4")
    {
        port.reset();
        path = Path;
        line = &kernel.AddPort(Path, Kind);
        port = std::make_unique<TComPort>(nullptr, *platform);
        port->SetPort(Path);
        port->SetEvents({});
    }

    std::vector<uint8_t> Bytes(size_t Count)
    {
        std::vector<uint8_t> bytes(Count);
        for (size_t i = 0; i < Count; ++i) bytes[i] = static_cast<uint8_t>('A' + i % 26);
        return bytes;
    }

    int32_t Write(const std::vector<uint8_t>& Bytes)
    {
        return port->Write(Bytes.data(), static_cast<int32_t>(Bytes.size()));
    }

    std::string LockFile() const { return (lockFolder / ("LCK.." + path.substr(path.rfind('/') + 1))).string(); }
};

int ErrorCodeOf(const std::function<void()>& Call)
{
    try {
        Call();
    } catch (const EComPort& e) {
        return e.Code();
    }
    return 0;
}

// --- a write ends when its bytes have left -----------------------------------

TEST_F(ModelLine, AWriteReturnsWhenItsBytesHaveLeftTheLine)
{
    for (const TPortKind kind : {TPortKind::Uart, TPortKind::FtdiAdapter, TPortKind::CdcAcm}) {
        Use(kind, std::string("/dev/line") + std::to_string(static_cast<int>(kind)));
        port->Open();
        const auto bytes = Bytes(300); // past the UART's FIFO and the chip's buffer
        EXPECT_EQ(Write(bytes), 300) << KindName(kind);
        // Nothing is still queued anywhere: the close below can lose nothing.
        EXPECT_EQ(line->OutputQueued(), 0u) << KindName(kind);
        port->Close();
        EXPECT_EQ(line->Wire().size(), 300u) << KindName(kind);
    }
}

TEST_F(ModelLine, AWriteHeldBackByFlowControlReportsOnlyWhatLeft)
{
    for (const TPortKind kind : {TPortKind::Uart, TPortKind::FtdiAdapter}) {
        Use(kind, std::string("/dev/held") + std::to_string(static_cast<int>(kind)));
        port->FlowControl().SetOutCTSFlow(true); // CTS stays off
        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(150);
        port->Open();
        const int32_t sent = Write(Bytes(600));
        EXPECT_LT(sent, 600) << KindName(kind);
        // What the FIFO or the chip already held still goes; the rest was
        // taken off the line, so CTS coming on sends nothing more.
        line->SetInputLine(TIOCM_CTS, true);
        std::this_thread::sleep_for(100ms);
        port->Close();
        EXPECT_EQ(line->Wire().size(), static_cast<size_t>(sent)) << KindName(kind);
    }
}

// --- RS-485 ------------------------------------------------------------------

TEST_F(ModelLine, AnRs485SetUpByTheBoardIsLeftAsItWas)
{
    Use(TPortKind::Uart);
    serial_rs485 board{};
    board.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    board.delay_rts_before_send = 2;
    line->SetRs485(board);
    port->Open(); // RTS off, the default
    EXPECT_EQ(line->Rs485().flags, board.flags);
    port->SetBaudRate(TBaudRate::br19200);
    EXPECT_EQ(line->Rs485().flags, board.flags);
    port->Close();
    EXPECT_EQ(line->Rs485().flags, board.flags);
    EXPECT_EQ(line->Rs485().delay_rts_before_send, 2u);
}

TEST_F(ModelLine, RtsOnWhileSendingUsesTheUartsRs485AndPutsItBack)
{
    Use(TPortKind::Uart);
    serial_rs485 found{};
    found.flags = SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX;
    found.delay_rts_after_send = 3;
    line->SetRs485(found);
    port->FlowControl().SetControlRTS(TRTSFlowControl::rtsToggle);
    port->Open();
    const serial_rs485 on = line->Rs485();
    EXPECT_TRUE(on.flags & SER_RS485_ENABLED);
    EXPECT_TRUE(on.flags & SER_RS485_RTS_ON_SEND);
    EXPECT_FALSE(on.flags & SER_RS485_RTS_AFTER_SEND);
    EXPECT_TRUE(on.flags & SER_RS485_RX_DURING_TX); // added to, not replaced
    EXPECT_EQ(on.delay_rts_after_send, 3u);
    // Asking for RTS off again puts the driver's configuration back at once.
    port->FlowControl().SetControlRTS(TRTSFlowControl::rtsDisable);
    EXPECT_EQ(line->Rs485().flags, found.flags);
    port->FlowControl().SetControlRTS(TRTSFlowControl::rtsToggle);
    port->Close();
    EXPECT_EQ(line->Rs485().flags, found.flags);
    EXPECT_EQ(line->Rs485().delay_rts_after_send, 3u);
}

TEST_F(ModelLine, WithoutRs485InTheDriverRtsIsRaisedForEachWriteOnly)
{
    for (const TPortKind kind : {TPortKind::FtdiAdapter, TPortKind::CdcAcm}) {
        Use(kind, std::string("/dev/toggle") + std::to_string(static_cast<int>(kind)));
        port->FlowControl().SetControlRTS(TRTSFlowControl::rtsToggle);
        port->Open();
        EXPECT_FALSE(line->ModemOutputs() & TIOCM_RTS) << KindName(kind);
        EXPECT_EQ(Write(Bytes(40)), 40);
        EXPECT_FALSE(line->ModemOutputs() & TIOCM_RTS) << KindName(kind);
        const auto wire = line->Wire();
        ASSERT_EQ(wire.size(), 40u) << KindName(kind);
        for (const TWireByte& b : wire) EXPECT_TRUE(b.RtsRaised) << KindName(kind);

        // A write cut short by its time-out drops RTS as well.
        port->FlowControl().SetOutCTSFlow(true);
        port->Timeouts().SetWriteTotalMultiplier(0);
        port->Timeouts().SetWriteTotalConstant(100);
        EXPECT_LT(Write(Bytes(600)), 600);
        EXPECT_FALSE(line->ModemOutputs() & TIOCM_RTS) << KindName(kind);
        port->Close();
    }
}

// --- settings the driver refuses ---------------------------------------------

TEST_F(ModelLine, SettingsTheDriverDoesNotTakeAreError7)
{
    struct Case {
        const char* what;
        std::function<void(TModelPort&)> driver;
        std::function<void(TComPort&)> ask;
    };
    const std::vector<Case> cases = {
        {"128000 bit/s on a 1.8432 MHz UART", [](TModelPort&) {},
         [](TComPort& p) { p.SetBaudRate(TBaudRate::br128000); }},
        {"256000 bit/s on a 1.8432 MHz UART", [](TModelPort&) {},
         [](TComPort& p) { p.SetBaudRate(TBaudRate::br256000); }},
        {"mark parity without CMSPAR", [](TModelPort& l) { l.TakesCmspar = false; },
         [](TComPort& p) { p.Parity().SetBits(TParityBits::prMark); }},
        {"two stop bits without CSTOPB", [](TModelPort& l) { l.TakesCstopb = false; },
         [](TComPort& p) { p.SetStopBits(TStopBits::sbTwoStopBits); }},
        {"hardware handshake without CRTSCTS", [](TModelPort& l) { l.TakesCrtscts = false; },
         [](TComPort& p) { p.FlowControl().SetFlowControl(TFlowControl::fcHardware); }},
    };
    int n = 0;
    for (const Case& c : cases) {
        Use(TPortKind::Uart, "/dev/ttyS" + std::to_string(10 + n++));
        c.driver(*line);
        port->Open();
        EXPECT_EQ(ErrorCodeOf([&] { c.ask(*port); }), 7) << c.what;
        // At open the same refusal closes the port again.
        port->Close();
        EXPECT_EQ(ErrorCodeOf([&] { port->Open(); }), 7) << c.what;
        EXPECT_FALSE(port->Connected()) << c.what;
    }
}

TEST_F(ModelLine, EachApplySendsOneSettingsRecord)
{
    Use(TPortKind::Uart);
    port->Open();
    const uint64_t before = line->Calls(TCSETS2);
    for (const TBaudRate rate : {TBaudRate::br115200, TBaudRate::br57600, TBaudRate::br1200}) {
        port->SetBaudRate(rate);
        EXPECT_EQ(line->Termios().c_ospeed, static_cast<uint32_t>(std::stoul(BaudRateToText(rate))));
    }
    port->SetCustomBaudRate(28800); // applies too, while the speed is still 1200
    port->SetBaudRate(TBaudRate::brCustom);
    EXPECT_EQ(line->Termios().c_ospeed, 28800u);
    EXPECT_EQ(line->Calls(TCSETS2), before + 5);
}

// --- a line is left as it was found ------------------------------------------

TEST_F(ModelLine, CloseLeavesTheLineAsItWasFound)
{
    for (const TPortKind kind : {TPortKind::Uart, TPortKind::FtdiAdapter, TPortKind::CdcAcm}) {
        Use(kind, std::string("/dev/found") + std::to_string(static_cast<int>(kind)));
        const termios2 found = line->Termios();
        port->SetBaudRate(TBaudRate::br115200);
        port->Parity().SetBits(TParityBits::prEven);
        port->Open();
        EXPECT_FALSE(line->Termios().c_cflag & HUPCL);
        port->Close();
        const termios2 after = line->Termios();
        EXPECT_EQ(after.c_cflag, found.c_cflag) << KindName(kind);
        EXPECT_EQ(after.c_iflag, found.c_iflag) << KindName(kind);
        EXPECT_EQ(after.c_lflag, found.c_lflag) << KindName(kind);
        EXPECT_EQ(after.c_ospeed, found.c_ospeed) << KindName(kind);
        // Hang-up on close came back with the rest: the last close drops DTR.
        EXPECT_FALSE(line->ModemOutputs() & TIOCM_DTR) << KindName(kind);
    }
}

// --- event bookkeeping -------------------------------------------------------

class ModelEvents : public ModelLine {
protected:
    std::vector<std::string> order;
    std::vector<int32_t> counts;
    std::vector<bool> cts, dsr;
    std::vector<TComErrors> errors;
    int empty = 0;

    void Watch(TPortKind Kind)
    {
        Use(Kind);
        port->SetEvents(AllComEvents);
        port->OnRxChar = [this](TObject&, int32_t Count) {
            counts.push_back(Count);
            order.push_back("rx");
        };
    }

    bool Collected(uint64_t Before)
    {
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (kernel.EventsCollected() == Before && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        return kernel.EventsCollected() != Before;
    }
};

TEST_F(ModelEvents, TwoAppliesInARowAnnounceNoUnreadBytes)
{
    Watch(TPortKind::Uart);
    port->Open();
    line->Send({1, 2, 3});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    // The wake-up of the first apply is collected on its own, between the
    // second apply's bookkeeping and its wake-up.
    kernel.HoldEvents(true);
    port->SetBaudRate(TBaudRate::br19200);
    kernel.BeforeSettingsWake = [&] {
        kernel.BeforeSettingsWake = nullptr;
        const uint64_t before = kernel.EventsCollected();
        kernel.HoldEvents(false);
        EXPECT_TRUE(Collected(before));
        kernel.HoldEvents(true);
    };
    port->SetBaudRate(TBaudRate::br38400);
    kernel.HoldEvents(false);
    PumpFor(100ms);
    EXPECT_EQ(counts, std::vector<int32_t>{3});
}

TEST_F(ModelEvents, AnApplyWhoseTwoWakeUpsAreReportedApartAnnouncesNothing)
{
    Watch(TPortKind::Uart);
    port->Open();
    line->Send({1, 2});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    // What the event wait had collected before the first wake-up, so that a
    // quick collection of it is not missed.
    uint64_t before = 0;
    kernel.BeforeSettingsWake = [&] {
        kernel.BeforeSettingsWake = nullptr;
        before = kernel.EventsCollected();
    };
    kernel.BetweenSettingsWakes = [&] {
        kernel.BetweenSettingsWakes = nullptr;
        EXPECT_TRUE(Collected(before));
    };
    port->SetBaudRate(TBaudRate::br19200);
    PumpFor(100ms);
    EXPECT_EQ(counts, std::vector<int32_t>{2});
}

TEST_F(ModelEvents, AnInputPurgeAfterAnApplyLosesNoArrival)
{
    Watch(TPortKind::Uart);
    port->Open();
    line->Send({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    kernel.HoldEvents(true);
    port->SetBaudRate(TBaudRate::br19200); // six bytes unread
    port->ClearBuffer(true, false);
    line->Send({7, 8}); // fewer than were unread at the apply
    kernel.HoldEvents(false);
    EXPECT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts.back(), 2);
}

TEST_F(ModelEvents, OutputEmptyIsReportedEvenWhenItEmptiesBeforeWriteReturns)
{
    Watch(TPortKind::Uart);
    port->OnTxEmpty = [&](TObject&) { ++empty; };
    port->SetBaudRate(TBaudRate::br115200);
    port->Open();
    PumpFor(50ms);
    ASSERT_EQ(empty, 0);
    // The bytes leave and the event wait sees the output empty while
    // write() has not yet returned.
    // write() has not yet returned: every wake-up of the writers is
    // collected, unless the wait already reported the output empty and is
    // handing that over to this (busy) thread.
    std::atomic<bool> handingOver{false};
    MainThread::SetWakeHook([&] { handingOver = true; });
    kernel.AfterWriteQueued = [&] {
        kernel.AfterWriteQueued = nullptr;
        while (line->OutputQueued() > 0) std::this_thread::sleep_for(100us);
        const uint64_t emptied = line->OutputWakes();
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (line->OutputWakesCollected() < emptied && !handingOver && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
    };
    EXPECT_EQ(Write(Bytes(4)), 4);
    MainThread::SetWakeHook(nullptr);
    EXPECT_TRUE(PumpUntil([&] { return empty > 0; }, 1s));
}

// --- modem lines and line errors ---------------------------------------------

TEST_F(ModelEvents, AModemLinePulseIsReportedAndNothingIsPolled)
{
    Watch(TPortKind::Uart);
    port->OnCTSChange = [&](TObject&, bool On) { cts.push_back(On); };
    port->Open();
    cts.clear(); // the initial state, reported by Open
    PumpFor(50ms);
    const uint64_t queries = line->Calls(TIOCMGET);
    PumpFor(200ms);
    EXPECT_EQ(line->Calls(TIOCMGET), queries) << "modem lines polled while a wait for them exists";
    line->PulseInputLine(TIOCM_CTS); // on and off again, long before anyone looks
    EXPECT_TRUE(PumpUntil([&] { return !cts.empty(); }));
}

TEST_F(ModelEvents, WithoutAWaitForModemLinesTheyAreLookedAt)
{
    Watch(TPortKind::CdcAcm);
    port->OnDSRChange = [&](TObject&, bool On) { dsr.push_back(On); };
    port->Open();
    dsr.clear();
    line->SetInputLine(TIOCM_DSR, true);
    ASSERT_TRUE(PumpUntil([&] { return !dsr.empty(); }));
    EXPECT_EQ(dsr.back(), true);
}

TEST_F(ModelEvents, ALineErrorIsReportedBeforeItsByte)
{
    Watch(TPortKind::Uart);
    port->Parity().SetBits(TParityBits::prEven);
    port->Parity().SetCheck(true);
    port->OnError = [&](TObject&, TComErrors Errors) {
        errors.push_back(Errors);
        order.push_back("error");
    };
    port->OnRxChar = [&](TObject&, int32_t Count) {
        uint8_t buffer[16];
        port->Read(buffer, Count);
        order.push_back("rx");
    };
    port->Open();
    PumpFor(50ms);
    line->Send({0x41}, TLineFlag::Parity);
    ASSERT_TRUE(PumpUntil([&] { return order.size() >= 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"error", "rx"}));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].Contains(TComError::ceRxParity));
}

// --- parity errors as delivered ----------------------------------------------

TEST_F(ModelLine, AByteWithAParityErrorIsDeliveredItselfOrReplaced)
{
    struct Case {
        bool replace;
        bool discardNull;
        std::vector<uint8_t> delivered;
    };
    const std::vector<Case> cases = {
        {false, false, {0x41, 0x00, 0x43, 0xFF, 0x44}},
        {true, false, {0x41, 0x00, '?', 0xFF, 0x44}},
        {true, true, {0x41, '?', 0xFF, 0x44}},
    };
    int n = 0;
    for (const Case& c : cases) {
        Use(TPortKind::Uart, "/dev/ttyS" + std::to_string(20 + n++));
        port->Parity().SetBits(TParityBits::prOdd);
        port->Parity().SetCheck(true);
        port->Parity().SetReplace(c.replace);
        port->Parity().SetReplaceChar(u'?');
        port->SetDiscardNull(c.discardNull);
        port->Open();
        line->Send({0x41, 0x00});
        line->Send({0x43}, TLineFlag::Parity);
        line->Send({0xFF, 0x44}); // a real 0xFF comes doubled from the kernel
        EXPECT_EQ(port->InputCount(), static_cast<int32_t>(c.delivered.size()));
        // One byte at a time, so that the marks are cut apart.
        std::vector<uint8_t> got;
        uint8_t b = 0;
        while (port->Read(&b, 1) == 1) got.push_back(b);
        EXPECT_EQ(got, c.delivered) << "replace " << c.replace << ", discard NUL " << c.discardNull;
        port->Close();
    }
}

TEST_F(ModelLine, ParityMarksCutBetweenReadsAreJoined)
{
    Use(TPortKind::Uart);
    port->Parity().SetBits(TParityBits::prOdd);
    port->Parity().SetCheck(true);
    port->Open();
    line->Send({0x41});
    line->Send({0x43}, TLineFlag::Parity);
    line->Send({0xFF});
    std::vector<uint8_t> got;
    uint8_t b = 0;
    while (port->Read(&b, 1) == 1) got.push_back(b);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x41, 0x43, 0xFF}));
}

// --- low latency -------------------------------------------------------------

TEST_F(ModelLine, UsbAdaptersRunWithoutTheirLatencyTimerWhileOpen)
{
    Use(TPortKind::FtdiAdapter, "/dev/ttyUSB0");
    EXPECT_EQ(line->LatencyTimerMs(), 16);
    port->Open();
    EXPECT_TRUE(line->LowLatency());
    EXPECT_EQ(line->LatencyTimerMs(), 1);
    port->Close();
    EXPECT_FALSE(line->LowLatency());
    EXPECT_EQ(line->LatencyTimerMs(), 16);

    // A port without the query opens all the same.
    Use(TPortKind::CdcAcm, "/dev/ttyACM0");
    EXPECT_NO_THROW(port->Open());
}

// --- UUCP lock files ---------------------------------------------------------

pid_t DeadProcess()
{
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST_F(ModelLine, ALockFileIsHeldWhileOpen)
{
    Use(TPortKind::FtdiAdapter, "/dev/ttyUSB0");
    port->Open();
    std::ifstream lock(LockFile());
    ASSERT_TRUE(lock.good());
    std::string text((std::istreambuf_iterator<char>(lock)), std::istreambuf_iterator<char>());
    char expected[16];
    std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
    EXPECT_EQ(text, expected);
    port->Close();
    EXPECT_FALSE(std::filesystem::exists(LockFile()));
}

TEST_F(ModelLine, ALockFileOfALiveProcessRefusesTheLineAndAStaleOneDoesNot)
{
    Use(TPortKind::FtdiAdapter, "/dev/ttyUSB1");
    struct Case {
        const char* what;
        std::string content;
        int code;
    };
    char live[16], dead[16];
    std::snprintf(live, sizeof live, "%10d\n", static_cast<int>(::getppid()));
    std::snprintf(dead, sizeof dead, "%10d\n", static_cast<int>(DeadProcess()));
    const int parent = static_cast<int>(::getppid());
    char ours[16];
    std::snprintf(ours, sizeof ours, "%10d\n", static_cast<int>(::getpid()));
    const std::vector<Case> cases = {
        {"live, text", live, 1},
        {"live, binary", std::string(reinterpret_cast<const char*>(&parent), sizeof parent), 1},
        {"stale", dead, 0},
    };
    for (const Case& c : cases) {
        std::ofstream(LockFile()) << c.content;
        try {
            port->Open();
            EXPECT_EQ(c.code, 0) << c.what;
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), c.code) << c.what;
            EXPECT_EQ(e.WinCode(), 5) << c.what;
        }
        EXPECT_EQ(port->Connected(), c.code == 0) << c.what;
        // A live program's lock stays; a stale one is now ours.
        std::ifstream kept(LockFile());
        std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, c.code != 0 ? c.content : ours) << c.what;
        port->Close();
        std::filesystem::remove(LockFile());
    }
}

TEST_F(ModelLine, NoLockFolderIsNoRefusal)
{
    std::filesystem::remove_all(lockFolder);
    Use(TPortKind::Uart);
    EXPECT_NO_THROW(port->Open());
    EXPECT_TRUE(port->Connected());
}

} // namespace

namespace {

// --- the running kernel's side of the seam -----------------------------------

TEST(KernelCalls, InterruptBreaksAThreadOutOfABlockingCall)
{
    // A wait for modem lines cannot be had here; a read of an empty pipe
    // blocks the same way until a signal interrupts it.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    SerialPlatform::TSysCalls& calls = SerialPlatform::TSysCalls::Kernel();
    std::atomic<bool> done{false};
    int error = 0;
    ssize_t result = 0;
    std::thread blocked([&] {
        uint8_t b = 0;
        result = calls.Read(pipeFds[0], &b, 1);
        error = errno;
        done = true;
    });
    while (!done) {
        calls.Interrupt(blocked);
        std::this_thread::sleep_for(2ms);
    }
    blocked.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, EINTR);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

} // namespace

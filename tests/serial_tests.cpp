#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "CountingPlatform.h"
#include "PtyLine.h"
#include "serial/ComPort.h"
#include "serial/ComText.h"
#include "serial/platform/PosixCustomSpeed.h"
#include "serial/platform/PosixTermios.h"

namespace {

class ComPort : public testing::Test {
protected:
    TPtyLine line;
    TCountingPlatform platform;
    TComPort port{nullptr, platform};

    void SetUp() override { port.SetPort(line.Path()); }

    termios LineSettings() const
    {
        termios t{};
        tcgetattr(line.Slave(), &t);
        return t;
    }
};

EComPort CaughtComError(const std::function<void()>& Step)
{
    try {
        Step();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort::CreateNoWinCode(1);
}

// --- settings ----------------------------------------------------------------

TEST(ComPortSettings, ConstructorValues)
{
    TComPort port(nullptr);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), TDataBits::dbEight);
    EXPECT_EQ(port.StopBits(), TStopBits::sbOneStopBit);
    EXPECT_EQ(port.Parity().Bits(), TParityBits::prNone);
    EXPECT_EQ(port.FlowControl().FlowControl(), TFlowControl::fcNone);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Events(), AllComEvents);
    EXPECT_EQ(port.SyncMethod(), TSyncMethod::smThreadSync);
    EXPECT_EQ(port.EventThreadPriority(), TThreadPriority::tpNormal);
    EXPECT_EQ(port.StoredProps(), TStoredProps{TStoredProp::spBasic});
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), TCustomComPort::InvalidHandle);
}

TEST(ComPortSettings, TextForms)
{
    EXPECT_EQ(TextToBaudRate("115200"), TBaudRate::br115200);
    for (const char* text : {"Custom", "custom", "CUSTOM"}) EXPECT_EQ(TextToBaudRate(text), TBaudRate::brCustom);
    for (const char* text : {"", " 9600", "28800", "9600 "}) EXPECT_EQ(TextToBaudRate(text), TBaudRate::br9600);
    EXPECT_EQ(BaudRateToText(TBaudRate::brCustom), "Custom");
    EXPECT_EQ(TextToStopBits("1.5"), TStopBits::sbOne5StopBits);
    EXPECT_EQ(TextToDataBits("9"), TDataBits::dbEight);
    EXPECT_EQ(TextToFlowControl("none"), TFlowControl::fcNone);
    EXPECT_EQ(TextToFlowControl("sometimes"), TFlowControl::fcCustom);
    EXPECT_EQ(TextToParity("eVeN"), TParityBits::prEven);
    EXPECT_EQ(TextToDTRControl("handshake"), TDTRFlowControl::dtrHandshake);
    EXPECT_EQ(TextToRTSControl("Toggle"), TRTSFlowControl::rtsToggle);
    EXPECT_EQ(RTSControlToText(TRTSFlowControl::rtsToggle), "Toggle");
    EXPECT_TRUE(TextToYesNo("yes"));
    EXPECT_FALSE(TextToYesNo("Y"));
    EXPECT_EQ(YesNoToText(false), "No");
    EXPECT_EQ(CharSettingToText(127), "\x7f");
    EXPECT_EQ(CharSettingToText(128), "#128");
    EXPECT_EQ(CharSettingToText(32), "#32");
    EXPECT_EQ(CharSettingToText(17), "#17");
    EXPECT_EQ(CharSettingToText(0), "#0");
    EXPECT_EQ(TextToCharSetting("#300"), 44);
    EXPECT_EQ(TextToCharSetting("#$11"), 17);
    EXPECT_EQ(TextToCharSetting("#q"), 0);
    EXPECT_EQ(TextToCharSetting("#"), u'#');
    EXPECT_EQ(TextToCharSetting("ok"), u'o');
    EXPECT_EQ(TextToCharSetting("Ж"), u'Ж');
    EXPECT_EQ(TextToCharSetting(""), 0);
}

TEST(ComPortSettings, QueueSizesAreMadeEven)
{
    TComPort port(nullptr);
    struct Case { int32_t in, stored; };
    for (const Case c : {Case{1025, 1024}, Case{4097, 4096}, Case{0, 0}, Case{-3, -3}, Case{7, 6}}) {
        port.Buffer().SetInputSize(c.in);
        EXPECT_EQ(port.Buffer().InputSize(), c.stored) << c.in;
        port.Buffer().SetOutputSize(c.in);
        EXPECT_EQ(port.Buffer().OutputSize(), c.stored) << c.in;
    }
}

TEST(ComPortSettings, CompositeFlowControl)
{
    TComPort port(nullptr);
    TComFlowControl& f = port.FlowControl();
    f.SetFlowControl(TFlowControl::fcHardware);
    f.SetControlDTR(TDTRFlowControl::dtrHandshake);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcHardware);
    EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsHandshake);
    EXPECT_TRUE(f.OutCTSFlow());
    f.SetFlowControl(TFlowControl::fcSoftware);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcSoftware);
    EXPECT_FALSE(f.OutCTSFlow());
    f.SetXonXoffIn(false);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);
    f.SetFlowControl(TFlowControl::fcCustom); // changes nothing
    EXPECT_TRUE(f.XonXoffOut());
    f.SetFlowControl(TFlowControl::fcNone);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
}

TEST(ComPortSettings, GroupsCopyValuesFromTheirOwnClassOnly)
{
    TComPort a(nullptr), b(nullptr);
    a.Timeouts().SetReadInterval(25);
    a.Parity().SetBits(TParityBits::prMark);
    b.SetTimeouts(a.Timeouts());
    b.SetParity(a.Parity());
    EXPECT_EQ(b.Timeouts().ReadInterval(), 25);
    EXPECT_EQ(b.Parity().Bits(), TParityBits::prMark);
    try {
        b.Timeouts().Assign(a.Parity());
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TComParity to a TComTimeouts");
    }
    EXPECT_EQ(b.Timeouts().ReadInterval(), 25);
}

// --- open and close ----------------------------------------------------------

TEST_F(ComPort, OpenAppliesEverySettingAndCloseReleasesTheDevice)
{
    int beforeOpen = 0, afterOpen = 0, beforeClose = 0, afterClose = 0;
    port.OnBeforeOpen = [&](TObject&) { ++beforeOpen; };
    port.OnAfterOpen = [&](TObject&) { ++afterOpen; };
    port.OnBeforeClose = [&](TObject&) { ++beforeClose; };
    port.OnAfterClose = [&](TObject&) { ++afterClose; };
    port.SetEvents({});
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_NE(port.Handle(), TCustomComPort::InvalidHandle);
    EXPECT_EQ(platform.Calls.SetupComm, 1);
    EXPECT_EQ(platform.Calls.SetCommState, 1);
    EXPECT_EQ(platform.Calls.SetCommTimeouts, 1);
    EXPECT_EQ(platform.Calls.LastState.XonLim, 256);
    EXPECT_EQ(platform.Calls.LastState.XoffLim, 256);
    EXPECT_EQ(platform.Calls.LastTimeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    port.Open(); // does nothing
    EXPECT_EQ(platform.Calls.Opens, 1);
    EXPECT_EQ(beforeOpen, 1);

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), TCustomComPort::InvalidHandle);
    port.Close(); // does nothing
    EXPECT_EQ(beforeClose, 1);
    EXPECT_EQ(afterClose, 1);

    port.Open(); // again, with every setting sent again
    EXPECT_EQ(platform.Calls.SetCommState, 2);
    EXPECT_EQ(afterOpen, 2);
    port.Close(); // while the counters above still exist
}

TEST_F(ComPort, SettingsReachTheLine)
{
    port.SetEvents({});
    port.Open();
    termios t = LineSettings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(t.c_cflag & HUPCL);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));

    struct Speed { TBaudRate rate; unsigned bits; };
    for (const Speed s : {Speed{TBaudRate::br110, 110}, Speed{TBaudRate::br1200, 1200}, Speed{TBaudRate::br14400, 14400},
                          Speed{TBaudRate::br19200, 19200}, Speed{TBaudRate::br56000, 56000},
                          Speed{TBaudRate::br115200, 115200}, Speed{TBaudRate::br128000, 128000},
                          Speed{TBaudRate::br256000, 256000}}) {
        port.SetBaudRate(s.rate);
        EXPECT_EQ(SerialPlatform::GetLineSpeed(line.Slave()), s.bits) << BaudRateToText(s.rate);
    }
    port.SetCustomBaudRate(31250);
    port.SetBaudRate(TBaudRate::brCustom);
    EXPECT_EQ(SerialPlatform::GetLineSpeed(line.Slave()), 31250u);

    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told;
    // those reach the record, whose mapping is checked on its own below.
    port.SetDataBits(TDataBits::dbSeven);
    port.Parity().SetBits(TParityBits::prMark);
    EXPECT_EQ(platform.Calls.LastState.ByteSize, 7);
    EXPECT_EQ(platform.Calls.LastState.Parity, 3);
    port.Parity().SetCheck(true);
    EXPECT_TRUE(LineSettings().c_iflag & INPCK);
    for (TStopBits s : {TStopBits::sbOne5StopBits, TStopBits::sbTwoStopBits}) {
        port.SetStopBits(s);
        EXPECT_TRUE(LineSettings().c_cflag & CSTOPB);
    }
    port.FlowControl().SetFlowControl(TFlowControl::fcHardware);
    EXPECT_TRUE(LineSettings().c_cflag & CRTSCTS);
    port.FlowControl().SetFlowControl(TFlowControl::fcSoftware);
    t = LineSettings();
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    port.FlowControl().SetXonChar(0x05);
    EXPECT_EQ(LineSettings().c_cc[VSTART], 0x05);
}

TEST(LineRecord, MapsToTermios)
{
    using SerialPlatform::TLineSettings;
    struct Bits { uint8_t size; tcflag_t flag; };
    for (const Bits b : {Bits{5, CS5}, Bits{6, CS6}, Bits{7, CS7}, Bits{8, CS8}}) {
        TLineSettings s;
        s.BaudRate = 9600;
        s.ByteSize = b.size;
        termios t{};
        ASSERT_EQ(SerialPlatform::LineSettingsToTermios(s, t), 0);
        EXPECT_EQ(t.c_cflag & CSIZE, b.flag);
    }
    struct Par { uint8_t parity; tcflag_t flags; };
    for (const Par p : {Par{0, 0}, Par{1, PARENB | PARODD}, Par{2, PARENB}, Par{3, PARENB | PARODD | CMSPAR},
                        Par{4, PARENB | CMSPAR}}) {
        TLineSettings s;
        s.BaudRate = 9600;
        s.Parity = p.parity;
        termios t{};
        ASSERT_EQ(SerialPlatform::LineSettingsToTermios(s, t), 0);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), p.flags);
    }
    TLineSettings bad;
    bad.BaudRate = 9600;
    bad.ByteSize = 9;
    termios t{};
    EXPECT_EQ(SerialPlatform::LineSettingsToTermios(bad, t), EINVAL);
    bad.ByteSize = 8;
    bad.BaudRate = 0;
    EXPECT_EQ(SerialPlatform::LineSettingsToTermios(bad, t), EINVAL);
}

TEST_F(ComPort, SettingsChangedWhileClosedAreAppliedByTheNextOpen)
{
    port.SetEvents({});
    port.SetBaudRate(TBaudRate::br57600);
    port.Parity().SetBits(TParityBits::prEven);
    port.Timeouts().SetWriteTotalConstant(50);
    port.Buffer().SetInputSize(4096);
    EXPECT_EQ(platform.Calls.Total(), 0);
    port.Open();
    EXPECT_EQ(platform.Calls.Total(), 3);
    EXPECT_EQ(cfgetospeed(&(const termios&)LineSettings()), B57600);
    EXPECT_EQ(platform.Calls.LastState.Parity, 2);
    EXPECT_EQ(platform.Calls.LastTimeouts.WriteTotalTimeoutConstant, 50u);
    EXPECT_EQ(platform.Calls.LastInQueue, 4096);
}

TEST_F(ComPort, EqualValuesSendNothingAndEachChangeSendsItsGroup)
{
    port.SetEvents({});
    port.Open();
    const TDeviceCalls before = platform.Calls;
    port.SetBaudRate(TBaudRate::br9600);
    port.Parity().SetBits(TParityBits::prNone);
    port.Timeouts().SetReadInterval(-1);
    port.Buffer().SetInputSize(1024);
    port.SetPort(line.Path());
    EXPECT_EQ(platform.Calls.Total(), before.Total());
    EXPECT_EQ(platform.Calls.Opens, 1);

    port.Timeouts().SetReadTotalConstant(5);
    EXPECT_EQ(platform.Calls.SetCommTimeouts, before.SetCommTimeouts + 1);
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(platform.Calls.SetupComm, before.SetupComm + 1);
    port.FlowControl().SetFlowControl(TFlowControl::fcNone); // applies even unchanged
    EXPECT_EQ(platform.Calls.SetCommState, before.SetCommState + 1);
}

TEST_F(ComPort, UpdateBracketHoldsChangesUntilTheLastEndUpdate)
{
    port.SetEvents({});
    port.Open();
    port.EndUpdate(); // without BeginUpdate: nothing
    const int before = platform.Calls.Total();
    port.BeginUpdate();
    port.BeginUpdate();
    port.SetBaudRate(TBaudRate::br38400);
    port.Timeouts().SetReadTotalConstant(7);
    port.EndUpdate();
    EXPECT_EQ(platform.Calls.Total(), before);
    port.EndUpdate();
    EXPECT_EQ(platform.Calls.Total(), before + 3);
    EXPECT_EQ(cfgetospeed(&(const termios&)LineSettings()), B38400);
}

TEST_F(ComPort, ChangingThePortWhileOpenReopens)
{
    TPtyLine other;
    port.SetEvents({});
    port.Open();
    port.SetPort(other.Path());
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(platform.Calls.Opens, 2);
    // The first line is free again.
    TComPort second(nullptr);
    second.SetEvents({});
    second.SetPort(line.Path());
    EXPECT_NO_THROW(second.Open());
}

TEST_F(ComPort, RefusedSettingsCloseThePortAgain)
{
    struct Case { const char* call; int code; const char* message; };
    for (const Case c : {Case{"SetupComm", 9, "SetupComm function failed (Error: 22)"},
                         Case{"SetCommState", 7, "SetCommState function failed (Error: 22)"},
                         Case{"SetCommTimeouts", 8, "SetCommTimeouts failed (Error: 22)"}}) {
        platform.Calls.Refuse = {{c.call, 22}};
        const EComPort e = CaughtComError([&] { port.Open(); });
        EXPECT_EQ(e.Code(), c.code);
        EXPECT_STREQ(e.what(), c.message);
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(port.Handle(), TCustomComPort::InvalidHandle);
    }
    platform.Calls.Refuse.clear();
    EXPECT_NO_THROW(port.Open());
}

TEST_F(ComPort, OpenFailsWithNoSuchPortAndWithAPortHeldElsewhere)
{
    TComPort missing(nullptr);
    missing.SetPort("/dev/ttyNoSuchPort9");
    EComPort e = CaughtComError([&] { missing.Open(); });
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 2);
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    EXPECT_FALSE(missing.Connected());
    missing.SetPort("");
    EXPECT_EQ(CaughtComError([&] { missing.Open(); }).WinCode(), 2);
    missing.SetPort("ttyNoSuchPort9"); // a bare name is a device under /dev
    EXPECT_EQ(CaughtComError([&] { missing.Open(); }).WinCode(), 2);

    port.SetEvents({});
    port.Open();
    TComPort second(nullptr);
    second.SetPort(line.Path());
    e = CaughtComError([&] { second.Open(); });
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 5);
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 5)");

    // Another process is refused as well.
    const pid_t child = fork();
    if (child == 0) {
        TComPort other(nullptr);
        other.SetPort(line.Path());
        try {
            other.Open();
        } catch (const EComPort& refused) {
            _exit(refused.WinCode());
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

TEST_F(ComPort, DestructorClosesAnOpenPort)
{
    {
        TComPort scoped(nullptr);
        scoped.SetPort(line.Path());
        scoped.Open();
    }
    port.SetEvents({});
    EXPECT_NO_THROW(port.Open());
}

TEST_F(ComPort, ErrorsGoToOnExceptionWhenAssigned)
{
    std::vector<std::string> seen;
    port.OnException = [&](TObject&, TComExceptions kind, const std::string& message, int64_t winError,
                           const std::string& winMessage) {
        seen.push_back(std::to_string(static_cast<int>(kind)) + "|" + message + "|" + std::to_string(winError) +
                       "|" + (winMessage.empty() ? "" : "text"));
    };
    uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), 0);
    port.SetPort("/dev/ttyNoSuchPort9");
    port.Open();
    EXPECT_EQ(seen, (std::vector<std::string>{"23|Port Not Open|-24|", "0|Unable to open com port|2|text"}));
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPort, CloseWhileLoadingOnlyForgetsTheStoredFlag)
{
    int handlers = 0;
    port.OnBeforeClose = [&](TObject&) { ++handlers; };
    port.OnAfterClose = [&](TObject&) { ++handlers; };
    port.BeginLoading();
    port.SetConnected(true); // stored, not opened
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
    port.EndLoading(); // nothing left to open
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(platform.Calls.Opens, 0);
    EXPECT_EQ(handlers, 0);

    // Destroyed before the end of loading: the destructor's close.
    TComPort loading(nullptr, platform);
    loading.BeginLoading();
    loading.SetConnected(true);
}

TEST_F(ComPort, TriggersOnRxCharIsNotStoredWhileALinkTakesTheBytes)
{
    TComLink link;
    link.OnRxBuf = [](TObject&, std::span<const uint8_t>, int32_t) {};
    port.RegisterLink(link);
    const EComPort e = CaughtComError([&] { port.SetTriggersOnRxChar(false); });
    EXPECT_EQ(e.Code(), 22);
    std::vector<TComExceptions> seen;
    port.OnException = [&](TObject&, TComExceptions kind, const std::string&, int64_t, const std::string&) {
        seen.push_back(kind);
    };
    port.SetTriggersOnRxChar(false); // the handler returns
    EXPECT_EQ(seen, std::vector<TComExceptions>{TComExceptions::CE_HasLink});
    port.UnRegisterLink(link);
    EXPECT_TRUE(port.TriggersOnRxChar());
}

// --- transfers ---------------------------------------------------------------

TEST_F(ComPort, PortNotOpenBeforeOpenAndAfterClose)
{
    uint8_t buffer[4] = {1, 2, 3, 4};
    for (int round = 0; round < 2; ++round) {
        for (bool write : {true, false}) {
            const EComPort e = CaughtComError([&] { write ? port.Write(buffer, 4) : port.Read(buffer, 4); });
            EXPECT_EQ(e.Code(), 24);
            EXPECT_EQ(e.WinCode(), -1);
            EXPECT_STREQ(e.what(), "Port Not Open");
        }
        port.SetEvents({});
        port.Open();
        port.Close();
    }
    EXPECT_EQ(buffer[0], 1);
}

TEST_F(ComPort, ReadReturnsAtOnceWithWhatHasArrived)
{
    port.SetEvents({});
    port.Open();
    std::vector<uint8_t> buffer(255, 0xEE);
    EXPECT_EQ(port.Read(buffer.data(), 255), 0);
    EXPECT_EQ(buffer[0], 0xEE);

    line.DeviceWrite({1, 2, 3, 4, 5, 6, 7, 8, 9});
    PumpUntil([&] { return port.InputCount() == 9; });
    EXPECT_EQ(port.Read(buffer.data(), 255), 9);
    EXPECT_EQ(buffer[8], 9);
    EXPECT_EQ(buffer[9], 0xEE); // untouched past what was read

    std::vector<uint8_t> many(300);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i);
    line.DeviceWrite(many);
    PumpUntil([&] { return port.InputCount() == 300; });
    EXPECT_EQ(port.Read(buffer.data(), 255), 255);
    EXPECT_EQ(buffer[254], 254);
    EXPECT_EQ(port.Read(buffer.data(), 255), 45);
    EXPECT_EQ(buffer[0], 255);
}

TEST_F(ComPort, WriteSendsEverythingAndStringFormsUseLowBytes)
{
    port.SetEvents({});
    port.Open();
    const uint8_t frame[11] = {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0xC3, 0x9F};
    EXPECT_EQ(port.Write(frame, 11), 11);
    EXPECT_EQ(line.DeviceRead(11), std::vector<uint8_t>(frame, frame + 11));
    EXPECT_EQ(port.Write(frame, 0), 0);
    EXPECT_EQ(port.WriteStr(u"A\u0142"), 2);
    EXPECT_EQ(line.DeviceRead(2), (std::vector<uint8_t>{'A', 0x42}));
    line.DeviceWrite({'o', 'k', 0xE9});
    PumpUntil([&] { return port.InputCount() == 3; });
    std::u16string text;
    EXPECT_EQ(port.ReadStr(text, 10), 3);
    EXPECT_EQ(text, u"ok\u00E9");
    port.SetCodePage(1251);
    EXPECT_EQ(port.WriteUnicodeString("Ж"), 1);
    EXPECT_EQ(line.DeviceRead(1), (std::vector<uint8_t>{0xC6}));
}

TEST_F(ComPort, WriteCutShortByItsTimeOutIsNoError)
{
    port.SetEvents({});
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(100);
    port.Open();
    // The device side never reads: the line's queue fills up.
    std::vector<uint8_t> big(1 << 20, 0x55);
    const int32_t sent = port.Write(big.data(), static_cast<int32_t>(big.size()));
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int32_t>(big.size()));
}

TEST_F(ComPort, DiscardNullDropsReceivedZeros)
{
    port.SetEvents({});
    port.SetDiscardNull(true);
    port.Open();
    line.DeviceWrite({'a', 0, 'b', 0, 0, 'c'});
    // What waits is counted as the read will deliver it.
    EXPECT_TRUE(PumpUntil([&] { return port.InputCount() == 3; }));
    uint8_t buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, 8), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");

    // Counted bytes not read yet come first, before those still on the line.
    line.DeviceWrite({0, 'd', 'e', 0});
    EXPECT_TRUE(PumpUntil([&] { return port.InputCount() == 2; }));
    line.DeviceWrite({'f', 0, 'g'});
    EXPECT_TRUE(PumpUntil([&] { return port.InputCount() == 4; }));
    EXPECT_EQ(port.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "def");
    EXPECT_EQ(port.InputCount(), 1);
    EXPECT_EQ(port.Read(buffer, 8), 1);
    EXPECT_EQ(buffer[0], 'g');

    // Only NULs: nothing to count, nothing to read.
    line.DeviceWrite({0, 0, 0});
    PumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.Read(buffer, 8), 0);
}

TEST_F(ComPort, QueriesOfAPseudoTerminalAreNeutral)
{
    port.SetEvents({});
    port.Open();
    EXPECT_TRUE(port.Signals().Empty());
    EXPECT_TRUE(port.LastErrors().Empty());
    line.DeviceWrite({1, 2, 3});
    PumpUntil([&] { return port.InputCount() == 3; });
    port.ClearBuffer(true, false);
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_NO_THROW(port.AbortAllAsync());
}

} // namespace

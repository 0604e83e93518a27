// The serial line services on Windows, on real COM ports: two wired to each
// other (a null modem made of two pseudo-terminals) and one with the
// simulated device behind it. tests/wine/run-test.sh names them in
// TEST_NULL_MODEM and TEST_SIMDEVICE.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "WinTestHelpers.h"
#include "tests/MainThreadPump.h"
#include "protocol/Frames.h"
#include "runtime/WideText.h"
#include "serial/ComPort.h"
#include "serial/ListComPorts.h"
#include "serial/platform/SerialPlatform.h"

using namespace std::chrono_literals;
using namespace SerialPlatform;
using Bytes = std::vector<uint8_t>;

namespace {

// The ports the harness wired: the tool's side and the farPort side.
std::pair<std::string, std::string> NullModemPorts()
{
    std::istringstream words(wintests::HarnessSetting("TEST_NULL_MODEM"));
    std::string nearPort, farPort;
    words >> nearPort >> farPort;
    return {nearPort, farPort};
}

TLineSettings Line9600()
{
    TLineSettings s;
    s.BaudRate = 9600;
    s.ByteSize = 8;
    s.fDtrControl = 0;
    s.fRtsControl = 0;
    return s;
}

// Reads return at once with what has arrived.
constexpr TCommTimeouts ReturnAtOnce{MaxDword, 0, 0, 0, 0};

// The farPort end of the null modem, opened the plain way, as another program
// would.
class TFarEnd {
public:
    explicit TFarEnd(const std::string& Port)
        : FHandle(::CreateFileW((L"\\\\.\\" + Utf8ToWide(Port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr))
    {
        if (!FHandle.Valid()) return;
        COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 100, 0, 0}; // each read waits up to 100 ms for a byte
        ::SetCommTimeouts(FHandle.Get(), &t);
    }
    bool Valid() const { return FHandle.Valid(); }
    void Write(const Bytes& Data)
    {
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(FHandle.Get(), Data.data(), static_cast<DWORD>(Data.size()), &written, nullptr));
        ASSERT_EQ(written, Data.size());
    }
    // Up to Count bytes, waiting at most a generous limit for them.
    Bytes Read(size_t Count, std::chrono::milliseconds Limit = 5s)
    {
        Bytes got;
        const auto until = std::chrono::steady_clock::now() + Limit;
        while (got.size() < Count && std::chrono::steady_clock::now() < until) {
            uint8_t buffer[256];
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min(Count - got.size(), sizeof buffer));
            if (!::ReadFile(FHandle.Get(), buffer, want, &n, nullptr)) break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    wintests::THandle FHandle;
};

class NullModem : public testing::Test {
protected:
    void SetUp() override
    {
        const auto [nearPort, farPort] = NullModemPorts();
        if (nearPort.empty()) GTEST_SKIP() << "no null modem: run through tests/wine/run-test.sh --null-modem";
        Near = nearPort;
        ASSERT_EQ(TPlatform::System().OpenDevice(Near, Device), 0);
        ASSERT_EQ(Device->SetupComm(1024, 1024), 0);
        ASSERT_EQ(Device->SetCommState(Line9600()), 0);
        ASSERT_EQ(Device->SetCommTimeouts(ReturnAtOnce), 0);
        Far = std::make_unique<TFarEnd>(farPort);
        ASSERT_TRUE(Far->Valid());
        Device->Purge(PURGE_RXCLEAR | PURGE_TXCLEAR);
    }

    uint32_t InputQueue()
    {
        uint32_t errors = 0;
        TComStat stat;
        EXPECT_EQ(Device->ClearCommError(errors, stat), 0);
        return stat.cbInQue;
    }

    bool InputQueueReaches(uint32_t Count)
    {
        for (int i = 0; i < 500; ++i) {
            if (InputQueue() >= Count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    // Write through the seam, waiting for the transfer to finish.
    int Write(const Bytes& Data, uint32_t& Moved)
    {
        TTransfer t;
        const int started = Device->StartWrite(t, Data);
        if (started != 0 && started != ErrorIoPending) return started;
        return Device->FinishTransfer(t, Moved);
    }

    std::string Near;
    std::unique_ptr<TDevice> Device;
    std::unique_ptr<TFarEnd> Far;
};

TEST_F(NullModem, BytesGoBothWays)
{
    uint32_t moved = 0;
    const Bytes out{0x01, 0x11, 0xC0, 0x2C, 0x00, 0xFF};
    ASSERT_EQ(Write(out, moved), 0);
    EXPECT_EQ(moved, out.size());
    EXPECT_EQ(Far->Read(out.size()), out);

    const Bytes in{0x01, 0x41, 0x00, 0x05, 0x80, 0x0D, 0x0A};
    Far->Write(in);
    ASSERT_TRUE(InputQueueReaches(in.size()));
    // With these time-outs a read returns at once with what is there.
    Bytes buffer(32, 0xEE);
    TTransfer t;
    ASSERT_EQ(Device->StartRead(t, buffer), 0);
    EXPECT_EQ(t.Done, in.size());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), buffer.begin()));
    EXPECT_EQ(buffer[in.size()], 0xEE); // nothing written past what came
    uint32_t finished = 0;
    EXPECT_EQ(Device->FinishTransfer(t, finished), 0);
    EXPECT_EQ(finished, in.size());
    EXPECT_EQ(InputQueue(), 0u);
}

TEST_F(NullModem, APendingReadEndsWithWhatArrivesOrAtItsTimeOut)
{
    // Up to 2 s for the whole buffer: the bytes that come first end it.
    ASSERT_EQ(Device->SetCommTimeouts({0, 0, 2000, 0, 0}), 0);
    Bytes buffer(4);
    TTransfer t;
    ASSERT_EQ(Device->StartRead(t, buffer), ErrorIoPending);
    Far->Write({1, 2, 3, 4});
    uint32_t moved = 0;
    EXPECT_EQ(Device->FinishTransfer(t, moved), 0);
    EXPECT_EQ(moved, 4u);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4}));

    // Fewer bytes than asked for: the read ends at its total time-out with
    // them, without an error.
    ASSERT_EQ(Device->SetCommTimeouts({0, 0, 300, 0, 0}), 0);
    Bytes more(10);
    TTransfer second;
    ASSERT_EQ(Device->StartRead(second, more), ErrorIoPending);
    Far->Write({7, 8});
    EXPECT_EQ(Device->FinishTransfer(second, moved), 0);
    EXPECT_EQ(moved, 2u);
}

TEST_F(NullModem, AbortEndsAPendingReadFromAnotherThread)
{
    ASSERT_EQ(Device->SetCommTimeouts({0, 0, 0, 0, 0}), 0); // no time-out at all
    Bytes buffer(8);
    TTransfer t;
    ASSERT_EQ(Device->StartRead(t, buffer), ErrorIoPending);
    std::thread aborter([&] {
        std::this_thread::sleep_for(100ms);
        Device->Purge(PURGE_TXABORT | PURGE_RXABORT);
    });
    uint32_t moved = 0;
    EXPECT_EQ(Device->FinishTransfer(t, moved), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(moved, 0u);
    aborter.join();
}

TEST_F(NullModem, ATransferReleasedWhileUnderWayIsEndedFirst)
{
    ASSERT_EQ(Device->SetCommTimeouts({0, 0, 0, 0, 0}), 0); // no time-out at all
    auto buffer = std::make_unique<Bytes>(8);
    {
        TTransfer t;
        ASSERT_EQ(Device->StartRead(t, *buffer), ErrorIoPending);
    } // released unfinished: the read is ended before its record goes
    buffer.reset();
    // A later abort no longer finds it, and the device goes on.
    EXPECT_EQ(Device->Purge(PURGE_TXABORT | PURGE_RXABORT), 0);
    ASSERT_EQ(Device->SetCommTimeouts(ReturnAtOnce), 0);
    Far->Write({9});
    ASSERT_TRUE(InputQueueReaches(1));
    Bytes one(1);
    TTransfer t;
    ASSERT_EQ(Device->StartRead(t, one), 0);
    EXPECT_EQ(one, Bytes{9});
}

TEST_F(NullModem, ClearEmptiesTheInputQueue)
{
    Far->Write({1, 2, 3, 4, 5});
    ASSERT_TRUE(InputQueueReaches(5));
    EXPECT_EQ(InputQueue(), 5u);
    ASSERT_EQ(Device->Purge(PURGE_RXCLEAR), 0);
    EXPECT_EQ(InputQueue(), 0u);
    // Nothing to read: the read ends at once with no bytes.
    Bytes buffer(8);
    TTransfer t;
    const int started = Device->StartRead(t, buffer);
    ASSERT_TRUE(started == 0 || started == ErrorIoPending) << started;
    uint32_t moved = 99;
    EXPECT_EQ(Device->FinishTransfer(t, moved), 0);
    EXPECT_EQ(moved, 0u);
}

TEST_F(NullModem, WaitReportsArrivalsAndEndsOnStopOrAnEmptyMask)
{
    ASSERT_EQ(Device->SetCommMask(EV_RXCHAR), 0);
    TStopSignal stop;
    ASSERT_TRUE(stop.Valid());
    uint32_t mask = 0;
    bool stopped = false;

    std::thread writer([&] {
        std::this_thread::sleep_for(100ms);
        Far->Write({0x42});
    });
    EXPECT_EQ(Device->WaitCommEvent(mask, stop, stopped), 0);
    writer.join();
    EXPECT_FALSE(stopped);
    EXPECT_EQ(mask, EV_RXCHAR);
    Device->Purge(PURGE_RXCLEAR);

    // Nothing arrives: the stop ends the wait.
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.Set();
    });
    EXPECT_EQ(Device->WaitCommEvent(mask, stop, stopped), 0);
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(mask, 0u);

    // Mask 0 ends a wait in progress, with no event.
    TStopSignal other;
    std::thread clearer([&] {
        std::this_thread::sleep_for(100ms);
        Device->SetCommMask(0);
    });
    EXPECT_EQ(Device->WaitCommEvent(mask, other, stopped), 0);
    clearer.join();
    EXPECT_FALSE(stopped);
    EXPECT_EQ(mask, 0u);
}

TEST_F(NullModem, AnArrivalWhileNoOneWaitsIsReportedByTheNextWait)
{
    ASSERT_EQ(Device->SetCommMask(EV_RXCHAR), 0);
    TStopSignal stop;
    uint32_t mask = 0;
    bool stopped = false;
    // A wait that a stop interrupted is still outstanding when bytes come.
    stop.Set();
    EXPECT_EQ(Device->WaitCommEvent(mask, stop, stopped), 0);
    EXPECT_TRUE(stopped);
    Far->Write({1});
    ASSERT_TRUE(InputQueueReaches(1));
    TStopSignal fresh;
    EXPECT_EQ(Device->WaitCommEvent(mask, fresh, stopped), 0);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(NullModem, TheStopWinsWhenBothAreSet)
{
    ASSERT_EQ(Device->SetCommMask(EV_RXCHAR), 0);
    Far->Write({1, 2});
    ASSERT_TRUE(InputQueueReaches(2));
    TStopSignal stop;
    stop.Set();
    uint32_t mask = 0;
    bool stopped = false;
    EXPECT_EQ(Device->WaitCommEvent(mask, stop, stopped), 0);
    // Either the wait completed at once with the event, or the stop won.
    EXPECT_TRUE(stopped || mask == EV_RXCHAR);
    if (stopped) {
        EXPECT_EQ(mask, 0u);
    }
}

TEST_F(NullModem, ClosingWithAWaitOutstandingReturns)
{
    ASSERT_EQ(Device->SetCommMask(EV_RXCHAR), 0);
    TStopSignal stop;
    stop.Set();
    uint32_t mask = 0;
    bool stopped = false;
    EXPECT_EQ(Device->WaitCommEvent(mask, stop, stopped), 0);
    ASSERT_TRUE(stopped);
    Device.reset(); // ends the outstanding wait before its record goes
    EXPECT_EQ(TPlatform::System().OpenDevice(Near, Device), 0);
}

TEST_F(NullModem, SettingsReachTheDriver)
{
    TLineSettings s = Line9600();
    s.BaudRate = 19200;
    s.Parity = 2;
    s.StopBits = 2;
    s.ByteSize = 7;
    ASSERT_EQ(Device->SetCommState(s), 0);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(reinterpret_cast<HANDLE>(Device->Handle()), &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.StopBits, 2);
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told.
    if (!wintests::RunningUnderWine()) {
        EXPECT_EQ(dcb.Parity, 2);
        EXPECT_EQ(dcb.ByteSize, 7);
    }
    COMMTIMEOUTS t{};
    ASSERT_EQ(Device->SetCommTimeouts({MaxDword, 0, 0, 10, 1000}), 0);
    ASSERT_TRUE(::GetCommTimeouts(reinterpret_cast<HANDLE>(Device->Handle()), &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

// The component watches every event; a driver that cannot watch some of
// them still hands over arrivals, and reports an empty output only after
// something was written.
TEST(ComPortEvents, AnIdleLineReportsNothingAndAnArrivalOnce)
{
    const auto [nearPort, farPort] = NullModemPorts();
    if (nearPort.empty()) GTEST_SKIP() << "no null modem";
    TComPort port(nullptr);
    port.SetPort(nearPort);
    int32_t arrivals = 0, emptied = 0;
    port.OnRxChar = [&](TObject&, int32_t Count) {
        arrivals += 1;
        std::vector<uint8_t> buffer(static_cast<size_t>(Count));
        port.Read(buffer.data(), Count);
    };
    port.OnTxEmpty = [&](TObject&) { emptied += 1; };
    port.Open();
    PumpFor(500ms);
    EXPECT_EQ(arrivals, 0);
    EXPECT_EQ(emptied, 0);
    TFarEnd other(farPort);
    other.Write({1, 2, 3});
    ASSERT_TRUE(PumpUntil([&] { return arrivals > 0; }));
    PumpFor(300ms);
    EXPECT_EQ(arrivals, 1);
    const uint8_t out[2] = {5, 6};
    port.Write(out, 2);
    EXPECT_EQ(other.Read(2), (Bytes{5, 6}));
    PumpFor(300ms);
    EXPECT_LE(emptied, 1);
    port.Close();
}

// --- opening ------------------------------------------------------------------

TEST(ComPortOpen, AMissingPortIsErrorTwoWithTheSystemsText)
{
    std::unique_ptr<TDevice> device;
    EXPECT_EQ(TPlatform::System().OpenDevice("COM199", device), ErrorNoSuchPort);
    EXPECT_FALSE(device);
    const std::string text = TPlatform::System().ErrorText(ErrorNoSuchPort);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');

    TComPort port(nullptr);
    port.SetPort("COM199");
    try {
        port.Open();
        ADD_FAILURE() << "opened a missing port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.WinCode(), 2);
    }
}

TEST(ComPortOpen, APortHeldElsewhereIsErrorFive)
{
    if (wintests::RunningUnderWine())
        GTEST_SKIP() << "wine does not refuse a second open of a COM port; this runs on Windows";
    const auto [nearPort, farPort] = NullModemPorts();
    if (nearPort.empty()) GTEST_SKIP() << "no null modem";
    std::unique_ptr<TDevice> first, second;
    ASSERT_EQ(TPlatform::System().OpenDevice(nearPort, first), 0);
    EXPECT_EQ(TPlatform::System().OpenDevice(nearPort, second), ErrorAccessDenied);
}

TEST(ComPortList, ThePortsWineWasGivenAreListedInOrder)
{
    const auto [nearPort, farPort] = NullModemPorts();
    if (nearPort.empty()) GTEST_SKIP() << "no null modem";
    std::vector<std::string> ports;
    ListComPorts(ports);
    EXPECT_NE(std::find(ports.begin(), ports.end(), nearPort), ports.end());
    EXPECT_NE(std::find(ports.begin(), ports.end(), farPort), ports.end());
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), ComPortNameLess));
    EXPECT_TRUE(ComPortPresent(nearPort));
    EXPECT_FALSE(ComPortPresent("COM199"));
}

// --- the component with the simulated device ----------------------------------

std::vector<std::string> SimDeviceRecords()
{
    std::ifstream file(wintests::HarnessSetting("TEST_SIMDEVICE_RECORDS"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

class SimDevice : public testing::Test {
protected:
    void SetUp() override
    {
        PortName = wintests::HarnessSetting("TEST_SIMDEVICE");
        if (PortName.empty()) GTEST_SKIP() << "no simulated device: run through tests/wine/run-test.sh --simdevice";
        port.SetPort(PortName);
        port.SetBaudRate(TBaudRate::br19200);
        port.OnRxChar = [this](TObject&, int32_t Count) {
            std::this_thread::sleep_for(50ms); // the rest of the answer, as the window does
            uint8_t buffer[256] = {};
            const int32_t n = port.Read(buffer, 255);
            Answers.emplace_back(buffer, buffer + n);
            Counts.push_back(Count);
            Threads.push_back(std::this_thread::get_id());
        };
        port.Open();
    }
    void TearDown() override { port.Close(); }

    // Sends a request and waits for the answer it sets off.
    Bytes Ask(std::span<const uint8_t> Request)
    {
        const size_t before = Answers.size();
        EXPECT_EQ(port.Write(Request.data(), static_cast<int32_t>(Request.size())),
                  static_cast<int32_t>(Request.size()));
        if (!PumpUntil([&] { return Answers.size() > before; })) return {};
        return Answers.back();
    }

    std::string PortName;
    TComPort port{nullptr};
    std::vector<Bytes> Answers;
    std::vector<int32_t> Counts;
    std::vector<std::thread::id> Threads;
};

TEST_F(SimDevice, IdentifiesItselfAndHandsEveryRecordOver)
{
    const Bytes identify = Ask(Frames::IdentifyRequest(1));
    ASSERT_EQ(Frames::AnswerKind(identify), Frames::TAnswerKind::akIdentify);
    EXPECT_TRUE(Frames::AnswerVerifies(identify));
    EXPECT_EQ(Frames::VersionText(identify), "V2.14");
    EXPECT_EQ(Threads.back(), std::this_thread::get_id()); // handed over to this, the main thread

    const Bytes serial = Ask(Frames::SerialNumberRequest(1));
    EXPECT_EQ(Frames::SerialNumberText(serial), "20231187");

    const Bytes count = Ask(Frames::RecordCountRequest(1));
    const std::vector<std::string> records = SimDeviceRecords();
    ASSERT_FALSE(records.empty());
    ASSERT_EQ(Frames::RecordCount(count), static_cast<int32_t>(records.size()));

    // The newest records, down from the last index, text by text.
    for (int32_t index = Frames::RecordCount(count) - 1, n = 0; index >= 0 && n < 20; --index, ++n) {
        const Bytes answer = Ask(Frames::RecordRequest(1, index));
        ASSERT_EQ(Frames::AnswerKind(answer), Frames::TAnswerKind::akRecord) << index;
        EXPECT_TRUE(Frames::AnswerVerifies(answer)) << index;
        EXPECT_EQ(Frames::RecordText(answer), records[static_cast<size_t>(index)]) << index;
    }
    // An index the device does not hold: the exception answer.
    EXPECT_EQ(Frames::AnswerKind(Ask(Frames::RecordRequest(1, 65535))), Frames::TAnswerKind::akRecordException);
}

} // namespace

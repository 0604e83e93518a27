#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "PtyLine.h"
#include "runtime/ExceptionDisplay.h"
#include "runtime/MainThread.h"
#include "serial/ComPort.h"

using namespace std::chrono_literals;

namespace {

// --- running a call on the main thread ---------------------------------------

TEST(MainThreadCalls, SynchronizeRunsOnTheMainThreadAndCarriesExceptionsBack)
{
    std::thread::id ranOn;
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        MainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
        try {
            MainThread::Synchronize([] { throw std::runtime_error("from the main thread"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done = true;
        MainThread::NotifyWaiters();
    });
    MainThread::WaitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(caught, "from the main thread");
}

TEST(MainThreadCalls, SentStepReleasesItsSenderBeforeItRuns)
{
    std::vector<std::string> order;
    std::string shown;
    SetExceptionDisplay([&](const std::exception& e) { shown = e.what(); });
    std::thread worker([&] {
        MainThread::SendStep([&] {
            order.push_back("step");
            throw std::runtime_error("step failed");
        });
    });
    // The sender is released as soon as the main thread takes the step.
    PumpUntil([&] { return !order.empty(); });
    worker.join();
    EXPECT_EQ(order, std::vector<std::string>{"step"});
    EXPECT_EQ(shown, "step failed");
    SetExceptionDisplay(nullptr);
}

// --- the event thread on a real line -----------------------------------------

class EventThread : public testing::Test {
protected:
    TPtyLine line;
    TComPort port{nullptr};
    std::vector<int32_t> counts;
    std::vector<std::thread::id> threads;
    std::vector<std::string> shown;

    void SetUp() override
    {
        port.SetPort(line.Path());
        port.OnRxChar = [this](TObject&, int32_t Count) {
            counts.push_back(Count);
            threads.push_back(std::this_thread::get_id());
        };
        SetExceptionDisplay([this](const std::exception& e) { shown.push_back(e.what()); });
    }
    void TearDown() override
    {
        port.Close(); // a hand-over in flight still reaches the handlers
        SetExceptionDisplay(nullptr);
    }

    uint8_t ReadOne()
    {
        uint8_t b = 0;
        port.Read(&b, 1);
        return b;
    }
};

TEST_F(EventThread, ReceivedBytesFireOnRxCharOnTheMainThread)
{
    port.Open();
    line.DeviceWrite({1, 2, 3, 4, 5});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts.front(), 5);
    EXPECT_EQ(threads.front(), std::this_thread::get_id());
}

TEST_F(EventThread, UnreadBytesAreAnnouncedAgainOnlyWithTheNextArrival)
{
    port.OnRxChar = [this](TObject&, int32_t Count) { counts.push_back(Count); }; // reads nothing
    port.Open();
    // Applying the settings wakes the line once; that must be over before the
    // bytes come, or it would report them too.
    PumpFor(50ms);
    // One byte: one arrival (a longer write may reach the line in pieces,
    // each of them an arrival of its own).
    line.DeviceWrite({1});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    PumpFor(100ms);
    EXPECT_EQ(counts, std::vector<int32_t>{1});
    // Output going out wakes the line too; the unread byte is not announced
    // again for that.
    const uint8_t request[4] = {1, 0x11, 0xC0, 0x2C};
    port.Write(request, 4);
    line.DeviceRead(4);
    PumpFor(100ms);
    EXPECT_EQ(counts, std::vector<int32_t>{1});
    line.DeviceWrite({2, 3});
    ASSERT_TRUE(PumpUntil([&] { return counts.back() == 3; }));
    PumpFor(100ms);
    EXPECT_EQ(counts.back(), 3); // counted together with the old one
    EXPECT_LE(counts.size(), 3u);
}

TEST_F(EventThread, AnEventThatFindsTheQueueEmptyFiresNothing)
{
    // The first handler takes everything; a batch whose bytes are gone by the
    // time its step runs calls nothing.
    port.OnRxChar = [this](TObject&, int32_t Count) {
        counts.push_back(Count);
        std::vector<uint8_t> all(4096);
        port.Read(all.data(), 4096);
    };
    port.Open();
    PumpFor(50ms); // the line's first report: its output is empty
    std::atomic<bool> handingOver{false};
    MainThread::SetWakeHook([&] { handingOver = true; });
    line.DeviceWrite({1});
    while (!handingOver) std::this_thread::sleep_for(1ms);
    line.DeviceWrite({2});
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (port.InputCount() < 2 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(port.InputCount(), 2);
    uint8_t b[2];
    port.Read(b, 2); // the main thread reads before the notification runs
    PumpFor(100ms);
    MainThread::SetWakeHook(nullptr);
    EXPECT_TRUE(counts.empty()) << counts.size();
}

TEST_F(EventThread, NoEventsNoThread)
{
    port.SetEvents({});
    port.Open();
    line.DeviceWrite({1, 2});
    PumpFor(100ms);
    EXPECT_TRUE(counts.empty());
    EXPECT_EQ(port.InputCount(), 2);
}

TEST_F(EventThread, CloseRunsAHandOverInFlightAndNothingAfter)
{
    std::vector<bool> connectedInHandler;
    port.OnRxChar = [&](TObject&, int32_t Count) {
        counts.push_back(Count);
        connectedInHandler.push_back(port.Connected());
    };
    port.Open();
    PumpFor(50ms); // the line's first report: its output is empty
    std::atomic<bool> handingOver{false};
    MainThread::SetWakeHook([&] { handingOver = true; });
    line.DeviceWrite({7, 8});
    while (!handingOver) std::this_thread::sleep_for(1ms);
    // The event thread is blocked in its hand-over; the main thread closes.
    port.Close();
    MainThread::SetWakeHook(nullptr);
    EXPECT_EQ(counts, std::vector<int32_t>{2});
    EXPECT_EQ(connectedInHandler, std::vector<bool>{true});
    line.DeviceWrite({9});
    PumpFor(100ms);
    EXPECT_EQ(counts.size(), 1u);
}

TEST_F(EventThread, HandlerExceptionEndsTheThreadWithoutAMessage)
{
    port.OnRxChar = [&](TObject&, int32_t Count) {
        counts.push_back(Count);
        throw std::runtime_error("handler failed");
    };
    port.Open();
    line.DeviceWrite({1});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    PumpFor(50ms);
    line.DeviceWrite({2});
    PumpFor(100ms);
    EXPECT_EQ(counts.size(), 1u);
    EXPECT_TRUE(shown.empty());
    port.Close();
    EXPECT_FALSE(port.Connected());
    port.Open(); // a new thread, notifications again
    line.DeviceWrite({3});
    EXPECT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
}

TEST_F(EventThread, EachSyncMethodRunsTheStepsWhereItSays)
{
    const auto main = std::this_thread::get_id();
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone}) {
        std::atomic<int> seen{0};
        std::thread::id where;
        port.OnRxChar = [&](TObject&, int32_t) {
            where = std::this_thread::get_id();
            std::vector<uint8_t> all(64);
            port.Read(all.data(), 64);
            ++seen;
        };
        port.SetSyncMethod(method);
        port.Open();
        line.DeviceWrite({1, 2});
        ASSERT_TRUE(PumpUntil([&] { return seen.load() > 0; })) << static_cast<int>(method);
        port.Close();
        if (method == TSyncMethod::smNone)
            EXPECT_NE(where, main);
        else
            EXPECT_EQ(where, main);
    }
}

TEST_F(EventThread, WindowSyncShowsAStepsExceptionAndGoesOn)
{
    port.SetSyncMethod(TSyncMethod::smWindowSync);
    port.OnRxChar = [&](TObject&, int32_t Count) {
        counts.push_back(Count);
        std::vector<uint8_t> all(64);
        port.Read(all.data(), 64);
        throw std::runtime_error("step failed");
    };
    port.Open();
    line.DeviceWrite({1});
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 1; }));
    line.DeviceWrite({2});
    ASSERT_TRUE(PumpUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(shown, (std::vector<std::string>{"step failed", "step failed"}));
}

TEST_F(EventThread, ThreadPropertiesAreRefusedWhileConnected)
{
    port.Open();
    for (int i = 0; i < 2; ++i) {
        try {
            if (i == 0)
                port.SetSyncMethod(TSyncMethod::smNone);
            else
                port.SetEventThreadPriority(TThreadPriority::tpHigher);
            FAIL();
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), 14);
            EXPECT_STREQ(e.what(), "Cannot set property while connected");
        }
    }
    EXPECT_EQ(port.SyncMethod(), TSyncMethod::smThreadSync);
    EXPECT_EQ(port.EventThreadPriority(), TThreadPriority::tpNormal);
    port.SetSyncMethod(TSyncMethod::smThreadSync); // the same value: nothing
    port.Close();
    port.SetEventThreadPriority(TThreadPriority::tpLower);
    EXPECT_NO_THROW(port.Open());
}

// The threads of this process, as the kernel lists them.
std::set<std::string> ThreadIds()
{
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(entry.path().filename().string());
    return ids;
}

TEST_F(EventThread, DeviceGoingAwayEndsTheThreadAndCloseStillCompletes)
{
    const auto before = ThreadIds();
    port.Open();
    std::set<std::string> started;
    for (const auto& id : ThreadIds())
        if (!before.count(id)) started.insert(id);
    ASSERT_FALSE(started.empty()) << "no event thread to watch";
    line.DeviceWrite({1});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    line.Unplug();
    // Before Close: every thread the port started has ended by itself, so
    // none can be left spinning on the failed wait.
    EXPECT_TRUE(PumpUntil([&] {
        const auto now = ThreadIds();
        return std::none_of(started.begin(), started.end(), [&](const std::string& id) { return now.count(id); });
    })) << "a thread of the port still runs after the device went away";
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST(EventWait, StopWinsOverACompletedWait)
{
    TPtyLine line;
    std::unique_ptr<SerialPlatform::TDevice> device;
    ASSERT_EQ(SerialPlatform::TPlatform::System().OpenDevice(line.Path(), device), 0);
    device->SetCommMask(SerialPlatform::EV_RXCHAR);
    SerialPlatform::TStopSignal stop;
    line.DeviceWrite({1, 2});
    std::this_thread::sleep_for(20ms);
    stop.Set();
    uint32_t mask = 0;
    bool stopped = false;
    EXPECT_EQ(device->WaitCommEvent(mask, stop, stopped), 0);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(mask, 0u);
}

TEST(EventWait, EventsBetweenTwoWaitsAreReportedByTheNext)
{
    TPtyLine line;
    std::unique_ptr<SerialPlatform::TDevice> device;
    ASSERT_EQ(SerialPlatform::TPlatform::System().OpenDevice(line.Path(), device), 0);
    device->SetCommMask(SerialPlatform::EV_RXCHAR);
    SerialPlatform::TStopSignal stop;
    line.DeviceWrite({1});
    std::this_thread::sleep_for(20ms);
    uint32_t mask = 0;
    bool stopped = false;
    EXPECT_EQ(device->WaitCommEvent(mask, stop, stopped), 0);
    EXPECT_EQ(mask, SerialPlatform::EV_RXCHAR);
    // Nothing new: the wait goes on until stopped.
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.Set();
    });
    EXPECT_EQ(device->WaitCommEvent(mask, stop, stopped), 0);
    EXPECT_TRUE(stopped);
    stopper.join();
}

TEST(ComEvents, MaskAndSetAreInverses)
{
    EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
    EXPECT_EQ(MaskToEvents(0x05FF), AllComEvents);
    EXPECT_EQ(EventsToMask(TComEvents{TComEvent::evTxEmpty}), 0x0004u);
    EXPECT_EQ(EventsToMask(TComEvents{TComEvent::evRxFlag}), 0x0002u);
    EXPECT_EQ(MaskToEvents(0x0200 | 0x0800), TComEvents{});
}

} // namespace

namespace {

TEST_F(EventThread, ApplyingSettingsDoesNotAnnounceUnreadBytesAgain)
{
    port.OnRxChar = [this](TObject&, int32_t Count) { counts.push_back(Count); }; // reads nothing
    port.Open();
    PumpFor(50ms);
    line.DeviceWrite({1});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    port.SetBaudRate(TBaudRate::br57600);
    port.Parity().SetBits(TParityBits::prEven); // a pseudo-terminal keeps no parity, and says nothing
    PumpFor(100ms);
    EXPECT_EQ(counts, std::vector<int32_t>{1});
}

TEST_F(EventThread, OutputIsReportedEmptyOnlyAfterAWrite)
{
    int empty = 0;
    port.OnTxEmpty = [&](TObject&) { ++empty; };
    port.Open();
    PumpFor(100ms);
    EXPECT_EQ(empty, 0);
    const uint8_t request[4] = {1, 0x11, 0xC0, 0x2C};
    port.Write(request, 4);
    line.DeviceRead(4);
    EXPECT_TRUE(PumpUntil([&] { return empty > 0; }));
}

TEST_F(EventThread, DiscardedNullsAloneFireNoOnRxChar)
{
    port.SetDiscardNull(true);
    port.Open();
    line.DeviceWrite({0, 0, 0});
    PumpFor(100ms);
    line.DeviceWrite({'a', 0, 'b'});
    ASSERT_TRUE(PumpUntil([&] { return !counts.empty(); }));
    EXPECT_EQ(counts, std::vector<int32_t>{2});
    uint8_t buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, 8), 2);
}

TEST(ComPortLine, AFailedTransferIsReportedOnceToOnException)
{
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    port.SetEvents({});
    port.Open();
    line.Unplug();
    std::vector<TComExceptions> seen;
    port.OnException = [&](TObject&, TComExceptions kind, const std::string&, int64_t winError, const std::string&) {
        EXPECT_GT(winError, 0);
        seen.push_back(kind);
    };
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(port.Write(buffer, 4), 0);
    EXPECT_EQ(port.Read(buffer, 4), 0);
    EXPECT_EQ(seen, (std::vector<TComExceptions>{TComExceptions::CE_WriteFailed, TComExceptions::CE_ReadFailed}));
}

TEST(ComPortLine, ReadFailsOnceTheDeviceIsGone)
{
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    port.SetEvents({});
    port.Timeouts().SetReadInterval(0);
    port.Timeouts().SetReadTotalConstant(3000); // would wait three seconds for the bytes
    port.Open();
    line.Unplug();
    uint8_t buffer[10];
    try {
        port.Read(buffer, 10);
        FAIL() << "a read on a line that is gone returned";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 3);
    }
}

} // namespace

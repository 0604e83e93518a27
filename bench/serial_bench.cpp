// What the serial component costs by itself, on a pseudo-terminal: the round
// trip of one record request's size, the delay from a byte's arrival to the
// receive notification on the main thread, and the event thread's CPU time
// while nothing happens.

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "PtyLine.h"
#include "runtime/MainThread.h"
#include "serial/ComPort.h"

using namespace std::chrono;

namespace {

void RoundTrip()
{
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    port.SetEvents({});
    port.Open();
    const std::vector<uint8_t> request = {0x01, 0x41, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0xC3, 0x9F};
    std::vector<double> micros;
    for (int i = 0; i < 3000; ++i) {
        const auto start = steady_clock::now();
        port.Write(request.data(), 11);
        line.DeviceWrite(line.DeviceRead(11));
        uint8_t answer[11];
        int32_t got = 0;
        while (got < 11) got += port.Read(answer + got, 11 - got);
        if (i >= 100) micros.push_back(duration<double, std::micro>(steady_clock::now() - start).count());
    }
    std::printf("11-byte write + 11-byte read round trip: median %.1f us, p99 %.1f us (%zu runs)\n",
                Percentile(micros, 0.5), Percentile(micros, 0.99), micros.size());
}

void NotificationDelay()
{
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    steady_clock::time_point notified;
    bool seen = false;
    port.OnRxChar = [&](TObject&, int32_t) {
        notified = steady_clock::now();
        uint8_t b[64];
        port.Read(b, 64);
        seen = true;
    };
    port.Open();
    PumpFor(milliseconds(50));
    std::vector<double> micros;
    for (int i = 0; i < 1000; ++i) {
        seen = false;
        const auto sent = steady_clock::now();
        line.DeviceWrite({0x55});
        while (!seen) MainThread::CheckSynchronize(milliseconds(10));
        micros.push_back(duration<double, std::micro>(notified - sent).count());
    }
    std::printf("byte arrival to OnRxChar on the main thread: median %.1f us, p99 %.1f us\n",
                Percentile(micros, 0.5), Percentile(micros, 0.99));
    port.Close();
}

void IdleCpu()
{
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    int notifications = 0;
    port.OnRxChar = [&](TObject&, int32_t) { ++notifications; }; // leaves the bytes where they are
    port.Open();
    PumpFor(milliseconds(100));

    double before = OtherThreadsCpuSeconds();
    PumpFor(seconds(5));
    std::printf("event thread CPU over 5 s with nothing arriving: %.3f ms\n",
                (OtherThreadsCpuSeconds() - before) * 1e3);

    line.DeviceWrite(std::vector<uint8_t>(100, 0x33));
    PumpFor(milliseconds(100));
    before = OtherThreadsCpuSeconds();
    const int notifiedBefore = notifications;
    PumpFor(seconds(5));
    std::printf("event thread CPU over 5 s with 100 unread bytes in the queue: %.3f ms (%d notifications)\n",
                (OtherThreadsCpuSeconds() - before) * 1e3, notifications - notifiedBefore);
    port.Close();
}

} // namespace

int main()
{
    RoundTrip();
    NotificationDelay();
    IdleCpu();
}

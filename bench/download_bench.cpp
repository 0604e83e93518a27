// The whole program against the simulated device: download speed against
// what the line allows, the tool's own time per record as the grid grows, a
// full-size log, CPU while idle, and a soak under faults.
//
//   download_bench              speed at 115200 and 9600, full size, idle
//   download_bench --slow       also the speed at 1200 bit/s (about half an hour)
//   download_bench --soak       65535 records with one answer in 500 dropped
//                               and one in 500 corrupted, checked record by record
//   download_bench --only speed|slow|full|idle   one part (slow: 1200 bit/s alone)

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "PtyLine.h"
#include "SimDeviceProcess.h"
#include "runtime/CodePage.h"
#include "runtime/MainThread.h"
#include "ui/EventLoopHandOver.h"
#include "ui/Form1.h"
#include "ui/MessageBoxes.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

// Runs the event loop, as the program does, until Done holds; Done is looked
// at every 5 ms.
void RunUntil(const std::function<bool()>& Done)
{
    if (Done()) return;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (Done()) loop.quit();
    });
    check.start(5);
    loop.exec();
}

void RunFor(steady_clock::duration Time)
{
    QEventLoop loop;
    QTimer::singleShot(duration_cast<milliseconds>(Time), &loop, &QEventLoop::quit);
    loop.exec();
}

// Times of the tool's receive notifications and writes, seen through a link.
struct TTraffic {
    std::vector<steady_clock::time_point> Arrivals;
    std::vector<steady_clock::time_point> Writes;
    TComLink Link;
    TTraffic()
    {
        Link.OnRx = [this](TObject&, bool On) { if (On) Arrivals.push_back(steady_clock::now()); };
        Link.OnTx = [this](TObject&, bool On) { if (On) Writes.push_back(steady_clock::now()); };
    }
};

class TSession {
public:
    explicit TSession(const std::vector<std::string>& DeviceOptions, const std::string& Speed)
    {
        char pattern[] = "/tmp/actionlog-bench-XXXXXX";
        FDir = ::mkdtemp(pattern);
        fs::create_directories(FDir / "sys/class/tty");
        fs::current_path(FDir);
        std::vector<std::string> options = DeviceOptions;
        for (const std::string& o : {std::string("--link"), (FDir / "ttySIM").string(), std::string("--dump"),
                                     (FDir / "device-log.txt").string(), std::string("--log"), std::string("/dev/null")})
            options.push_back(o);
        FDevice = std::make_unique<TSimDeviceProcess>(options);
        std::ofstream(FDir / "Settings.txt", std::ios::binary)
            << (FDir / "ttySIM").string() << "\r\n" << Speed << "\r\n1\r\n";
        Form = std::make_unique<TForm1>(FDir / "sys", "/dev");
        Form->FormCreate();
        Form->ComPort1.RegisterLink(Traffic.Link);
        Form->Connect->click();
        RunUntil([&] { return Form->Count->text() != "1000"; });
        Log = ReadLines((FDir / "device-log.txt").string());
    }
    ~TSession()
    {
        Form->ComPort1.UnRegisterLink(Traffic.Link);
        Form.reset();
        FDevice.reset();
        fs::current_path("/");
        fs::remove_all(FDir);
    }

    double Download()
    {
        Traffic.Arrivals.clear();
        Traffic.Writes.clear();
        const auto start = steady_clock::now();
        Form->Start->click();
        RunUntil([&] { return Form->Start->isEnabled(); });
        return Seconds(steady_clock::now() - start);
    }

    // Rows 1..N hold the device's records, index N - 1 first.
    size_t WrongRecords() const
    {
        size_t wrong = 0;
        const size_t n = Log.size();
        if (Form->RowCount() != static_cast<int32_t>(n) + 2) return n;
        for (size_t row = 1; row <= n; ++row)
            if (Form->Cell(1, static_cast<int32_t>(row)) != Log[n - row] ||
                Form->Cell(0, static_cast<int32_t>(row)) != std::to_string(row))
                ++wrong;
        return wrong;
    }

    // Requests and answers at 10 bits a byte, plus the device's delay.
    double LineSeconds(int Baud, double DelayMs) const
    {
        double bytes = 0;
        for (const std::string& record : Log) bytes += 11 + 5 + static_cast<double>(Utf8ToCp1251(record).size());
        return bytes * 10 / Baud + static_cast<double>(Log.size()) * DelayMs / 1e3;
    }

    std::unique_ptr<TForm1> Form;
    TTraffic Traffic;
    std::vector<std::string> Log;

private:
    fs::path FDir;
    std::unique_ptr<TSimDeviceProcess> FDevice;
};

void Speed(int Baud, double Limit)
{
    const std::string speed = std::to_string(Baud);
    TSession s({"--records", "2000", "--min-length", "40", "--max-length", "120", "--pace", "--delay-ms", "2"}, speed);
    const double measured = s.Download();
    const double line = s.LineSeconds(Baud, 2);
    double requestAndDelay = 0;
    for (size_t i = 0; i < s.Log.size(); ++i) requestAndDelay += 11.0 * 10 / Baud + 0.002;
    const double sleepDesign = requestAndDelay + 0.100 * static_cast<double>(s.Log.size());
    std::printf("%6d bit/s: 2000 records in %.2f s (%.1f records/s); the line needs %.2f s: %.3f x the line time "
                "(goal %.2f x); %zu records wrong\n",
                Baud, measured, 2000 / measured, line, measured / line, Limit, s.WrongRecords());
    std::printf("              a fixed 100 ms wait per record would need at least %.2f s (%.1f records/s)\n",
                sleepDesign, 2000 / sleepDesign);
}

// Per request after the first: the time since the previous request went out,
// that is one whole exchange (request, the device's answer, the tool's work),
// for the requests of rows First..Last.
std::vector<double> CyclesMs(const TTraffic& Traffic, size_t First, size_t Last)
{
    std::vector<double> out;
    for (size_t w = std::max<size_t>(First, 1); w < std::min(Last, Traffic.Writes.size()); ++w)
        out.push_back(duration<double, std::milli>(Traffic.Writes[w] - Traffic.Writes[w - 1]).count());
    return out;
}

void FullSize()
{
    TSession s({"--records", "65535", "--min-length", "250", "--max-length", "250"}, "115200");
    const double measured = s.Download();
    std::printf("65535 records of 250 characters, device answering at once: %.2f s (%.1f us a record), %zu records "
                "wrong\n",
                measured, measured / 65535 * 1e6, s.WrongRecords());
    for (const auto& [first, last] : {std::pair<size_t, size_t>{500, 1500}, {64000, 65000}}) {
        const auto cycles = CyclesMs(s.Traffic, first, last);
        std::printf("  request to next request, rows %zu-%zu: median %.3f ms, p99 %.3f ms, max %.3f ms\n", first, last,
                    Percentile(cycles, 0.5), Percentile(cycles, 0.99), Percentile(cycles, 1.0));
    }
    const auto saveStart = steady_clock::now();
    s.Form->SaveClick();
    std::printf("  Save: %.3f s; peak resident memory of the process: %.1f MB\n", Seconds(steady_clock::now() - saveStart),
                PeakResidentMegabytes());

    // Shorter records need the line's quiet of 3.5 characters before they
    // count as whole; that wait is the protocol's, the rest is the tool's.
    TSession shorter({"--records", "3000", "--min-length", "40", "--max-length", "120"}, "115200");
    shorter.Download();
    const double quiet = duration<double, std::milli>(shorter.Form->Controller().AnswerSilence()).count();
    const auto cycles = CyclesMs(shorter.Traffic, 500, 2500);
    std::printf("3000 records of 40 to 120 characters, device answering at once: request to next request median "
                "%.3f ms, p99 %.3f ms, of which %.3f ms is the quiet the line must keep; %zu records wrong\n",
                Percentile(cycles, 0.5), Percentile(cycles, 0.99), quiet, shorter.WrongRecords());
}

void Idle()
{
    TSession s({"--records", "10"}, "115200");
    RunFor(milliseconds(200));
    double before = ProcessCpuSeconds();
    RunFor(seconds(10));
    std::printf("connected and idle for 10 s: %.3f %% CPU\n", (ProcessCpuSeconds() - before) / 10 * 100);

    // A port whose handler leaves the bytes in the queue.
    TPtyLine line;
    TComPort port(nullptr);
    port.SetPort(line.Path());
    port.OnRxChar = [](TObject&, int32_t) {};
    port.Open();
    line.DeviceWrite(std::vector<uint8_t>(100, 0x33));
    RunFor(milliseconds(200));
    before = ProcessCpuSeconds();
    RunFor(seconds(10));
    std::printf("with 100 unread bytes in a port's queue for 10 s: %.3f %% CPU\n",
                (ProcessCpuSeconds() - before) / 10 * 100);
    port.Close();
}

void Soak()
{
    TSession s({"--records", "65535", "--min-length", "40", "--max-length", "250", "--drop-every", "500",
                "--corrupt-every", "499"},
               "115200");
    const double measured = s.Download();
    std::printf("soak: 65535 records, one answer in 500 dropped and one in 499 corrupted: %.1f s, %zu records "
                "wrong, grid rows %d\n",
                measured, s.WrongRecords(), s.Form->RowCount());
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "C.UTF-8");
    HandOverToEventLoop();
    std::string only;
    bool slow = false, soak = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--slow")) slow = true;
        if (!std::strcmp(argv[i], "--soak")) soak = true;
        if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
    }
    if (soak) {
        Soak();
        return 0;
    }
    if (only.empty() || only == "speed") {
        Speed(115200, 1.25);
        Speed(9600, 1.1);
    }
    if (slow || only == "slow") Speed(1200, 1.1);
    if (only.empty() || only == "full") FullSize();
    if (only.empty() || only == "idle") Idle();
    EndHandOverToEventLoop();
}

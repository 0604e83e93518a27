// actionlog as a shell, a script or a data collector runs it: the real
// program as a child process, the simulated device on a pseudo-terminal,
// a temporary working directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "CliProcess.h"
#include "SimDeviceProcess.h"
#include "serial/ComPort.h"
#include "serial/ListComPorts.h"
#include "ui/LogExport.h"

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const std::string LogFile = "Журнал_ЛОРНИК_20231187.txt";

// What the window's Save writes after a download of the device records
// Indices, in that order: each fetched record in its numbered row, then
// one empty row.
class TExpectedLog : public ILogSource {
public:
    TExpectedLog(const std::vector<std::string>& DeviceLog, const std::vector<int>& Indices)
    {
        for (int index : Indices) FRows.push_back(DeviceLog.at(static_cast<size_t>(index)));
    }
    std::string VersionText() const override { return "V2.14"; }
    std::string SerialText() const override { return "20231187"; }
    int32_t RowCount() const override { return static_cast<int32_t>(FRows.size()) + 2; }
    std::string Cell(int32_t Col, int32_t Row) const override
    {
        if (Row < 1 || Row > static_cast<int32_t>(FRows.size())) return "";
        return Col == 0 ? std::to_string(Row) : FRows[static_cast<size_t>(Row - 1)];
    }

private:
    std::vector<std::string> FRows;
};

std::vector<int> Downwards(int From, int To)
{
    std::vector<int> indices;
    for (int i = From; i >= To; --i) indices.push_back(i);
    return indices;
}

class Cli : public testing::Test {
protected:
    fs::path dir;
    fs::path work; // the program's working directory
    std::unique_ptr<TSimDeviceProcess> device;

    void SetUp() override
    {
        std::setlocale(LC_ALL, "C.UTF-8");
        char pattern[] = "/tmp/actionlog-cli-XXXXXX";
        dir = ::mkdtemp(pattern);
        work = dir / "work";
        fs::create_directory(work);
    }

    void TearDown() override
    {
        device.reset();
        if (!std::getenv("KEEP_TEST_DIR")) fs::remove_all(dir);
    }

    std::string Port() const { return (dir / "ttySIM").string(); }

    void StartDevice(std::vector<std::string> Options = {})
    {
        for (const std::string& o : {std::string("--link"), Port(), std::string("--dump"),
                                     (dir / "device-log.txt").string(), std::string("--log"),
                                     (dir / "device.log").string()})
            Options.push_back(o);
        device = std::make_unique<TSimDeviceProcess>(Options);
    }

    std::vector<std::string> DeviceLog() const { return ReadLines((dir / "device-log.txt").string()); }

    std::vector<std::string> Download(std::vector<std::string> Options = {}) const
    {
        std::vector<std::string> args = {"download", "--port", Port(), "--speed", "115200"};
        args.insert(args.end(), Options.begin(), Options.end());
        return args;
    }

    // The bytes the window's Save writes for this download, by the same code.
    std::string Expected(const std::vector<int>& Indices) const
    {
        const fs::path reference = dir / "reference.txt";
        SaveLog(TExpectedLog(DeviceLog(), Indices), reference);
        return ReadBytes(reference);
    }

    std::vector<std::string> FilesInWork() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(work)) names.push_back(entry.path().filename().string());
        return names;
    }
};

// --- downloads ------------------------------------------------------------

TEST_F(Cli, WholeDownloadIsSavedAsTheWindowSavesIt)
{
    StartDevice({"--records", "40"});
    const TCliResult r = RunCli(Download(), work);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    // Settings.txt is the window's: neither read nor written.
    EXPECT_EQ(FilesInWork(), std::vector<std::string>{LogFile});
    EXPECT_EQ(ReadBytes(work / LogFile), Expected(Downwards(39, 0)));
    EXPECT_NE(r.Err.find("saved 40 records to " + LogFile), std::string::npos) << r.Err;
    // Not a terminal: one line for every 5 %, the last at 100 %.
    const auto progress = std::count(r.Err.begin(), r.Err.end(), '%');
    EXPECT_EQ(progress, 20) << r.Err;
    EXPECT_NE(r.Err.find("40/40 records (100 %)"), std::string::npos) << r.Err;
}

TEST_F(Cli, RangesFetchFromTheIndexDownwards)
{
    StartDevice({"--records", "150"});
    struct TCase {
        std::vector<std::string> Options;
        std::vector<int> Indices;
        std::string File;
    };
    const std::vector<TCase> cases = {
        {{"--index", "99", "--count", "10"}, Downwards(99, 90), LogFile},
        {{"--index", "5", "--count", "100"}, Downwards(5, 0), LogFile},     // ends at record 0
        {{"--index", "$10", "--output", "sixteen.txt"}, Downwards(16, 0), "sixteen.txt"}, // count: all from it
        {{"--count", "3"}, Downwards(149, 147), LogFile},                   // index: the newest
        {{"--index", "7", "--count", "0"}, {}, LogFile},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Options));
        fs::remove(work / c.File);
        const TCliResult r = RunCli(Download(c.Options), work);
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_EQ(ReadBytes(work / c.File), Expected(c.Indices));
    }
}

TEST_F(Cli, ProgressBarOnATerminal)
{
    StartDevice({"--records", "30"});
    TCliProcess process(Download(), work, /*StderrTerminal=*/true);
    const TCliResult r = process.Finish();
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_NE(r.Err.find("\r["), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("30/30 records 100%"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("records/s"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("left"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find(" %)"), std::string::npos) << "no 5 % lines on a terminal";
}

// --- the device and the port fail -------------------------------------------

TEST_F(Cli, SilentDeviceEndsWithStatus1AndNoFile)
{
    StartDevice({"--address", "5"});
    const TCliResult r = RunCli(Download(), work);
    EXPECT_EQ(r.Status, 1) << r.Err;
    EXPECT_EQ(r.Err, "actionlog: Прибор не отвечает\n");
    EXPECT_EQ(r.Out, "");
    EXPECT_TRUE(FilesInWork().empty());
}

TEST_F(Cli, PortThatCannotBeOpenedEndsWithStatus3AndTheWindowsMessage)
{
    StartDevice();
    TComPort holder(nullptr); // another program holds the device's port
    holder.SetPort(Port());
    holder.SetEvents({});
    holder.Open();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {(dir / "ttyMISSING").string(), "actionlog: Unable to open com port (Error: 2)\n"},
        {Port(), "actionlog: Unable to open com port (Error: 5)\n"},
    };
    for (const auto& [port, message] : cases) {
        SCOPED_TRACE(port);
        const TCliResult r = RunCli({"download", "--port", port}, work);
        EXPECT_EQ(r.Status, 3);
        EXPECT_EQ(r.Err, message);
        EXPECT_TRUE(FilesInWork().empty());
        const TCliResult scan = RunCli({"scan", "--port", port, "--addresses", "1-3"}, work);
        EXPECT_EQ(scan.Status, 3);
        EXPECT_EQ(scan.Err, message);
        EXPECT_EQ(scan.Out, "");
    }
}

// The adapter pulled out mid-download: the window's message, status 3, and
// the records that came are saved.
TEST_F(Cli, LineThatFailsMidDownloadEndsWithStatus3AndKeepsTheRecords)
{
    StartDevice({"--records", "50", "--unplug-after", "5"});
    const TCliResult r = RunCli(Download(), work);
    EXPECT_EQ(r.Status, 3) << r.Err;
    EXPECT_NE(r.Err.find("(Error: 5)\n"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("saved 5 records to " + LogFile), std::string::npos) << r.Err;
    EXPECT_EQ(ReadBytes(work / LogFile), Expected(Downwards(49, 45)));
}

// Ctrl-C or a service manager's stop ends the download as Stop does: what
// came is saved, nothing after it is asked for.
TEST_F(Cli, InterruptMidDownloadSavesTheRecordsThatCame)
{
    StartDevice({"--records", "300", "--pace", "--delay-ms", "5"});
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        fs::remove(work / LogFile);
        TCliProcess process({"download", "--port", Port(), "--speed", "19200"}, work);
        ASSERT_TRUE(process.WaitForErr("(10 %)"));
        process.Signal(signal);
        const TCliResult r = process.Finish();
        EXPECT_EQ(r.Status, 130) << r.Err;
        EXPECT_NE(r.Err.find("actionlog: interrupted\n"), std::string::npos) << r.Err;

        const auto saved = Lines(ReadBytes(work / LogFile));
        ASSERT_GE(saved.size(), 2u + 30 + 1);
        ASSERT_LT(saved.size(), 2u + 300 + 1);
        const size_t records = saved.size() - 3;
        EXPECT_EQ(ReadBytes(work / LogFile), Expected(Downwards(299, 300 - static_cast<int>(records))));
        EXPECT_NE(r.Err.find("saved " + std::to_string(records) + " records"), std::string::npos) << r.Err;
    }
}

TEST_F(Cli, SaveThatFailsLeavesNoPartialFile)
{
    StartDevice({"--records", "5"});
    fs::create_directory(work / "taken"); // a folder where the file should go
    const TCliResult r = RunCli(Download({"--output", "taken"}), work);
    EXPECT_EQ(r.Status, 4) << r.Err;
    EXPECT_NE(r.Err.find("actionlog: cannot save taken: "), std::string::npos) << r.Err;
    EXPECT_EQ(FilesInWork(), std::vector<std::string>{"taken"});
    EXPECT_TRUE(fs::is_empty(work / "taken"));
}

// --- scan --------------------------------------------------------------------

TEST_F(Cli, ScanFindsTheDeviceAmongSilentAddresses)
{
    StartDevice({"--address", "17", "--records", "12"});
    const TCliResult found = RunCli({"scan", "--port", Port(), "--speed", "115200,19200", "--addresses", "1-20,30"}, work);
    EXPECT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(found.Out, "17\t115200\tV2.14\t20231187\t12\n17\t19200\tV2.14\t20231187\t12\n");

    const TCliResult none = RunCli({"scan", "--port", Port(), "--speed", "115200", "--addresses", "1-16"}, work);
    EXPECT_EQ(none.Status, 1) << none.Err;
    EXPECT_EQ(none.Out, "");
    EXPECT_EQ(none.Err, "actionlog: no device answered\n");
    EXPECT_TRUE(FilesInWork().empty());
}

// An answer later than the scan's time-out reaches the port while the next
// address is asked: it is not taken for a device at that address.
TEST_F(Cli, ScanDoesNotCreditALateAnswerToTheNextAddress)
{
    StartDevice({"--address", "17", "--delay-ms", "90"});
    const TCliResult late =
        RunCli({"scan", "--port", Port(), "--speed", "115200", "--addresses", "17-18", "--timeout", "60"}, work);
    EXPECT_EQ(late.Status, 1) << late.Err;
    EXPECT_EQ(late.Out, "");

    const TCliResult patient =
        RunCli({"scan", "--port", Port(), "--speed", "115200", "--addresses", "17-18", "--timeout", "400"}, work);
    EXPECT_EQ(patient.Status, 0) << patient.Err;
    EXPECT_EQ(patient.Out, "17\t115200\tV2.14\t20231187\t300\n");
}

// --- trace -------------------------------------------------------------------

// The lines after the first one that contains Text.
std::vector<std::string> After(const std::vector<std::string>& Lines, const std::string& Text)
{
    for (size_t i = 0; i < Lines.size(); ++i)
        if (Lines[i].find(Text) != std::string::npos) return {Lines.begin() + static_cast<ptrdiff_t>(i) + 1, Lines.end()};
    return {};
}

TEST_F(Cli, TraceShowsACorruptedAnswerAndItsResend)
{
    StartDevice({"--records", "4", "--corrupt-every", "2"});
    const TCliResult r = RunCli(Download({"--trace"}), work);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadBytes(work / LogFile), Expected(Downwards(3, 0)));

    const auto lines = Lines(r.Err);
    const std::regex frameLine(R"(^\d\d:\d\d:\d\d\.\d\d\d [<>] ([0-9A-F]{2} )*[0-9A-F]{2}( .*)?$)");
    for (const std::string& line : lines) {
        if (line.find(" > ") != std::string::npos || line.find(" < ") != std::string::npos) {
            EXPECT_TRUE(std::regex_match(line, frameLine)) << line;
        }
    }
    EXPECT_NE(r.Err.find("> 01 11 C0 2C  identify request, address 1"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("identify answer (0x11) from address 1, checksum good: version \"V2.14\""), std::string::npos);

    // The second record answer is corrupted: dropped, and its request goes
    // out again and is answered.
    const auto afterBad = After(lines, "checksum bad");
    ASSERT_GE(afterBad.size(), 2u) << r.Err;
    EXPECT_NE(afterBad[0].find("> 01 41 00 0F 00 01 00 00 02 "), std::string::npos) << afterBad[0];
    EXPECT_NE(afterBad[0].find("record request, address 1, index 2"), std::string::npos) << afterBad[0];
    EXPECT_NE(afterBad[1].find("  resent"), std::string::npos) << afterBad[1];
    const auto afterResent = After(afterBad, "resent");
    ASSERT_FALSE(afterResent.empty());
    const auto answer = std::find_if(afterResent.begin(), afterResent.end(),
                                     [](const std::string& Line) { return Line.find("  ") != std::string::npos; });
    ASSERT_NE(answer, afterResent.end());
    EXPECT_NE(answer->find("record answer (0x41) from address 1, checksum good"), std::string::npos) << *answer;
}

TEST_F(Cli, TraceShowsALateAnswerThatNoRequestAwaits)
{
    // Later than the answer time-out: the request goes out again, the late
    // answer fills the row and the answer to the copy finds no request.
    StartDevice({"--records", "3", "--late-every", "2", "--late-ms", "1300"});
    const TCliResult r = RunCli(Download({"--trace"}), work);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadBytes(work / LogFile), Expected(Downwards(2, 0)));
    const auto lines = Lines(r.Err);
    const auto afterResent = After(lines, "resent");
    ASSERT_FALSE(afterResent.empty()) << r.Err;
    const auto afterDropped = After(afterResent, "dropped: no request awaits it");
    ASSERT_FALSE(afterDropped.empty()) << r.Err;
}

// --- the command line itself ---------------------------------------------------

TEST_F(Cli, UsageErrorsEndWithStatus2AndWriteNothing)
{
    StartDevice({"--records", "20"});
    const std::string port = Port();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"fetch"},
        {"download"},
        {"download", "--port"},
        {"download", "--port", port, "--bogus"},
        {"download", "--port", port, "--speed", "12345"},
        {"download", "--port", port, "--speed", "19200,9600"},
        {"download", "--port", port, "--address", "abc"},
        {"download", "--port", port, "--address", "0"},
        {"download", "--port", port, "--address", "256"},
        {"download", "--port", port, "--index", "x"},
        {"download", "--port", port, "--count", "-1"},
        {"download", "--port", port, "--addresses", "1-5"},
        {"download", "--port", port, "extra"},
        {"download", "--port", port, "--output", (dir / "missing" / "log.txt").string()},
        {"download", "--port", port, "--speed", "115200", "--index", "20"}, // the device holds 0..19
        {"scan", "--port", port, "--addresses", "20-10"},
        {"scan", "--port", port, "--addresses", "1,,3"},
        {"scan", "--port", port, "--index", "3"},
        {"scan", "--port", port, "--timeout", "0"},
        {"ports", "--port", port},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const TCliResult r = RunCli(args, work);
        EXPECT_EQ(r.Status, 2);
        EXPECT_EQ(r.Out, "");
        EXPECT_TRUE(r.Err.starts_with("actionlog: ")) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
        EXPECT_TRUE(FilesInWork().empty());
    }
}

TEST_F(Cli, PortsHelpAndVersionGoToStandardOutput)
{
    std::vector<std::string> ports;
    ListComPorts(ports);
    std::string expected;
    for (const std::string& port : ports) expected += port + "\n";
    const TCliResult list = RunCli({"ports"}, work);
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, expected);
    EXPECT_EQ(list.Err, "");

    for (const char* help : {"--help", "-h"}) {
        const TCliResult r = RunCli({"download", help}, work);
        EXPECT_EQ(r.Status, 0);
        EXPECT_TRUE(r.Out.starts_with("Usage: actionlog COMMAND [OPTION]...\n")) << r.Out;
        EXPECT_NE(r.Out.find("\nExit status:\n"), std::string::npos);
        EXPECT_EQ(r.Err, "");
    }
    const TCliResult version = RunCli({"--version"}, work);
    EXPECT_EQ(version.Status, 0);
    EXPECT_TRUE(version.Out.starts_with("actionlog ")) << version.Out;
    EXPECT_TRUE(FilesInWork().empty());
}

} // namespace

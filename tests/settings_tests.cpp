#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exceptions.h"
#include "runtime/TextFile.h"
#include "serial/ListComPorts.h"
#include "ui/ConnectionSettings.h"
#include "FakeConnectionControls.h"

namespace fs = std::filesystem;
using textfile_detail::TFileHandle;

#include "FileTestHelpers.h"

using namespace filetests;

namespace {


// Each test works in a fresh working directory with a sysfs tree of two
// ports, /dev/ttyS0 and /dev/ttyUSB0.
class SettingsTest : public TWorkingDirTest {
protected:
    void SetUp() override
    {
        TWorkingDirTest::SetUp();
        Sys = Dir / "sys";
        AddTty(Sys, "ttyUSB0", "ftdi_sio", nullptr);
        AddTty(Sys, "ttyS0", "serial8250", "4");
    }
    void Read(FakeControls& Window) { ReadConnectionSettings(Window, Sys); }

    fs::path Sys;
};

TEST_F(SettingsTest, NoFileCreatesAnEmptyOneAndSelectsTheDefaults)
{
    FakeControls window;
    Read(window);
    EXPECT_EQ(window.Com, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyUSB0"}));
    EXPECT_EQ(window.Shown(), "/dev/ttyS0|19200|1");
    EXPECT_EQ(ReadBytes("Settings.txt"), "");
}

TEST_F(SettingsTest, WriteGivesTheSixteenByteExampleAndReadsBack)
{
    FakeControls window;
    window.Com = {"COM1"};
    window.ComIndex = 0;
    window.SpeedIndex = 4;
    window.Adder = "1";
    WriteConnectionSettings(window);
    EXPECT_EQ(ReadBytes("Settings.txt"), "COM1\r\n19200\r\n1\r\n");

    window.SetComIndex(-1);
    window.SetSpeedIndex(-1);
    window.Adder = "Ж 7";
    WriteConnectionSettings(window);
    EXPECT_EQ(ReadBytes("Settings.txt"), "\r\n\r\nЖ 7\r\n");

    FakeControls restarted;
    Read(restarted);
    EXPECT_EQ(restarted.Shown(), "/dev/ttyS0|19200|Ж 7");
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::string shown; // port|speed|address after start-up
};

class SettingsFileTest : public SettingsTest, public testing::WithParamInterface<FileCase> {};

TEST_P(SettingsFileTest, StartUpSelectsFromTheFile)
{
    WriteBytes("Settings.txt", GetParam().bytes);
    FakeControls window;
    Read(window);
    EXPECT_EQ(window.Shown(), GetParam().shown);
    EXPECT_EQ(ReadBytes("Settings.txt"), GetParam().bytes) << "start-up changed the file";
}

INSTANTIATE_TEST_SUITE_P(Lines, SettingsFileTest, testing::Values(
    FileCase{"AllRemembered", "/dev/ttyUSB0\r\n115200\r\n7\r\n", "/dev/ttyUSB0|115200|7"},
    FileCase{"LfOnly", "/dev/ttyUSB0\n115200\n7\n", "/dev/ttyUSB0|115200|7"},
    FileCase{"PortAbsent", "/dev/ttyUSB9\r\n1200\r\n1\r\n", "/dev/ttyS0|1200|1"},
    FileCase{"PortInOtherCase", "/dev/TTYUSB0\r\n9600\r\n2\r\n", "/dev/ttyS0|9600|2"},
    FileCase{"SpeedWithTrailingSpace", "/dev/ttyUSB0\r\n9600 \r\n2\r\n", "/dev/ttyUSB0|19200|2"},
    FileCase{"AddressOneSpace", "\r\n\r\n \r\n", "/dev/ttyS0|19200| "},
    FileCase{"AddressLetters", "\r\n\r\nabc\r\n", "/dev/ttyS0|19200|abc"},
    FileCase{"ByteOrderMark", "\xEF\xBB\xBF/dev/ttyUSB0\r\n57600\r\n3\r\n", "/dev/ttyS0|57600|3"},
    FileCase{"OneLine", "/dev/ttyUSB0\r\n", "/dev/ttyUSB0|19200|1"},
    FileCase{"NoLastLineBreak", "/dev/ttyUSB0\r\n2400\r\n5", "/dev/ttyUSB0|2400|5"},
    FileCase{"EofByte", "/dev/ttyUSB0\r\n\x1A" "2400\r\n5\r\n", "/dev/ttyUSB0|19200|1"},
    FileCase{"MoreThanThreeLines", "\r\n4800\r\n9\r\nextra\r\n", "/dev/ttyS0|4800|9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, NoPortsSelectsNothingAndWritesAnEmptyFirstLine)
{
    fs::remove_all(Sys / "class" / "tty");
    fs::create_directory(Sys / "class" / "tty");
    WriteBytes("Settings.txt", "/dev/ttyUSB0\r\n38400\r\n4\r\n");
    FakeControls window;
    Read(window);
    EXPECT_TRUE(window.Com.empty());
    EXPECT_EQ(window.Shown(), "|38400|4");
    WriteConnectionSettings(window);
    EXPECT_EQ(ReadBytes("Settings.txt"), "\r\n38400\r\n4\r\n");
}

TEST_F(SettingsTest, UnreadablePortListKeepsEntriesAndTheLastEqualOneWins)
{
    fs::remove_all(Sys);
    WriteBytes("Settings.txt", "A\r\n");
    FakeControls window;
    window.Com = {"A", "B", "A"};
    Read(window);
    EXPECT_EQ(window.Com, (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(window.ComIndex, 2);
}

TEST_F(SettingsTest, FolderNamedSettingsFailsOnCreating)
{
    fs::create_directory("Settings.txt");
    FakeControls window;
    try {
        Read(window);
        FAIL() << "start-up read a folder";
    } catch (const EInOutError& e) {
        EXPECT_EQ(Describe(e), "EInOutError 5: File access denied");
    }
    EXPECT_EQ(window.Shown(), "||");
    EXPECT_TRUE(window.Com.empty());
}

TEST_F(SettingsTest, ReadOnlyFileStartsButEveryConnectFails)
{
    const std::string bytes = "/dev/ttyUSB0\r\n57600\r\n12\r\n";
    WriteBytes("Settings.txt", bytes);
    fs::permissions("Settings.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    const fs::path sys = Sys;
    const std::string result = RunAsNobody([&] {
        FakeControls window;
        ReadConnectionSettings(window, sys);
        std::string outcome = window.Shown();
        window.Adder = "13";
        try {
            WriteConnectionSettings(window);
        } catch (const EInOutError& e) {
            outcome += "; " + Describe(e);
        }
        return outcome;
    });
    EXPECT_EQ(result, "/dev/ttyUSB0|57600|12; EInOutError 5: File access denied");
    EXPECT_EQ(ReadBytes("Settings.txt"), bytes);
}

// A Windows-written address (Windows-1251 "Ба") reads as two U+FFFD once;
// from then on start-up and Connect keep the file as it is instead of
// growing it each time. A real U+FFFD is kept from the start.
TEST_F(SettingsTest, ReadThenWrittenFileKeepsItsBytes)
{
    const struct {
        std::string bytes, afterFirstConnect;
    } cases[] = {
        {"/dev/ttyS0\r\n19200\r\n\xC1\xE0\r\n", "/dev/ttyS0\r\n19200\r\n\xEF\xBF\xBD\xEF\xBF\xBD\r\n"},
        {"/dev/ttyUSB0\r\n1200\r\n\xEF\xBF\xBD 7\r\n", "/dev/ttyUSB0\r\n1200\r\n\xEF\xBF\xBD 7\r\n"},
        {"/dev/ttyS0\r\n9600\r\nадрес №3\r\n", "/dev/ttyS0\r\n9600\r\nадрес №3\r\n"},
    };
    for (const auto& c : cases) {
        WriteBytes("Settings.txt", c.bytes);
        for (int round = 1; round <= 3; ++round) {
            FakeControls window;
            Read(window);
            WriteConnectionSettings(window);
            EXPECT_EQ(ReadBytes("Settings.txt"), c.afterFirstConnect) << "round " << round;
        }
    }
}

// Only a regular file is read; a device that never ends or a FIFO whose
// writer sends nothing is refused at once, like a file that cannot be read.
// The step runs in a child that an alarm ends should it hang.
TEST_F(SettingsTest, NotARegularFileIsRefusedAtOnce)
{
    const auto startUp = [this] {
        ::alarm(20);
        FakeControls window;
        try {
            Read(window);
        } catch (const EInOutError& e) {
            return Describe(e) + "; " + window.Shown();
        }
        return "read " + window.Shown();
    };
    fs::create_symlink("/dev/zero", "Settings.txt");
    EXPECT_EQ(RunInChild(startUp), "EInOutError 5: File access denied; ||") << "a link to /dev/zero";

    fs::remove("Settings.txt");
    ASSERT_EQ(::mkfifo("Settings.txt", 0600), 0);
    const TFileHandle idleWriter(::open("Settings.txt", O_RDWR | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(idleWriter.IsOpen());
    EXPECT_EQ(RunInChild(startUp), "EInOutError 5: File access denied; ||") << "a FIFO";
}

TEST_F(SettingsTest, HugeLinesKeepTheirFirstBytes)
{
    WriteBytes("Settings.txt",
               std::string(20 << 20, 'x') + "\r\n57600\r\n" + std::string(1 << 20, '7') + "\r\n");
    FakeControls window;
    Read(window);
    EXPECT_EQ(window.Shown(), "/dev/ttyS0|57600|" + std::string(TTextFileReader::MaxLineBytes, '7'));
}

class RememberedPortTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        int master = -1, slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        Master = TFileHandle(master);
        Slave = TFileHandle(slave);
        Pty = ::ttyname(Slave.Fd());
        fs::create_symlink(Pty, Dir / "usb-Simulated_Device-if00");
    }

    // The ports offered after start-up with Port remembered, and whether the
    // remembered one is selected.
    std::pair<std::vector<std::string>, bool> StartWith(const std::string& Port)
    {
        WriteBytes("Settings.txt", Port + "\r\n");
        FakeControls window;
        Read(window);
        return {window.Com, window.ComText() == Port};
    }

    TFileHandle Master, Slave;
    std::string Pty;
};

TEST_F(RememberedPortTest, CharacterDeviceJoinsTheSortedList)
{
    const std::string link = (Dir / "usb-Simulated_Device-if00").string();
    for (const std::string& port : {Pty, link, std::string("/dev/null"), std::string("null")}) {
        std::vector<std::string> expected{"/dev/ttyS0", "/dev/ttyUSB0", port};
        SortComPorts(expected);
        EXPECT_EQ(StartWith(port), std::make_pair(expected, true)) << port;
    }
}

// Under the C locale the file is UTF-8: the path comes back whole, is
// selected, and the first step of Connect writes it back unchanged.
TEST_F(RememberedPortTest, CyrillicPathSurvivesConnectUnderTheCLocale)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    SetTextFileLocale("C"); // what start-up fixes when the environment names the C locale
    const fs::path link = Dir / "Счётчик-порт";
    fs::create_symlink(Pty, link);
    const std::string bytes = link.string() + "\r\n115200\r\n7\r\n";
    WriteBytes("Settings.txt", bytes);
    FakeControls window;
    Read(window);
    EXPECT_EQ(window.Shown(), link.string() + "|115200|7");
    WriteConnectionSettings(window);
    EXPECT_EQ(ReadBytes("Settings.txt"), bytes);
}

TEST_F(RememberedPortTest, AnythingElseIsNotAdded)
{
    const std::vector<std::string> kernel{"/dev/ttyS0", "/dev/ttyUSB0"};
    for (const std::string& port : {std::string("/dev/ttyS0"), std::string("/dev/nothing-here"),
                                    (Dir / "Settings.txt").string(), std::string("/dev"),
                                    std::string("pts"), std::string("")}) {
        EXPECT_EQ(StartWith(port).first, kernel) << port;
    }
}

} // namespace

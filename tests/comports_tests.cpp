#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "serial/ListComPorts.h"

namespace fs = std::filesystem;

#include "FileTestHelpers.h"

namespace filetests {

// Adds a tty to a sysfs tree under SysRoot as the kernel lays it out:
// class/tty/<Name> links to the tty's folder, whose "device" links to the
// hardware, whose "driver" links to the driver. Driver nullptr: a terminal
// without a device; "": a device without a driver. Type: the serial_core
// UART type file, nullptr for none.
void AddTty(const fs::path& SysRoot, const std::string& Name, const char* Driver, const char* Type)
{
    const fs::path tty = SysRoot / "devices" / (Driver ? "hw" : "virtual") / Name;
    fs::create_directories(tty);
    fs::create_directories(SysRoot / "class" / "tty");
    fs::create_directory_symlink(fs::relative(tty, SysRoot / "class" / "tty"), SysRoot / "class" / "tty" / Name);
    if (Type) WriteBytes(tty / "type", std::string(Type) + "\n");
    if (!Driver) return;
    const fs::path hardware = SysRoot / "devices" / "hw" / ("port-" + Name);
    fs::create_directories(hardware);
    fs::create_directory_symlink(fs::relative(hardware, tty), tty / "device");
    if (*Driver == '\0') return;
    const fs::path driver = SysRoot / "bus" / "drivers" / Driver;
    fs::create_directories(driver);
    fs::create_directory_symlink(fs::relative(driver, hardware), hardware / "driver");
}

// A Bluetooth serial port. Bound to a remote device, it is a virtual tty
// with no device; while connected, the kernel moves it under the radio link
// (hci0:<handle>), its device, which no driver claims.
void AddBluetoothTty(const fs::path& SysRoot, const std::string& Name, bool Connected)
{
    if (!Connected) return AddTty(SysRoot, Name, nullptr, nullptr);
    const fs::path adapter = SysRoot / "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0";
    const fs::path link = adapter / "bluetooth/hci0/hci0:256";
    const fs::path tty = link / Name;
    fs::create_directories(tty);
    fs::create_directories(SysRoot / "bus/usb/drivers/btusb");
    if (!fs::exists(adapter / "driver"))
        fs::create_directory_symlink(fs::relative(SysRoot / "bus/usb/drivers/btusb", adapter), adapter / "driver");
    fs::create_directory_symlink(fs::relative(link, tty), tty / "device");
    fs::create_directories(SysRoot / "class" / "tty");
    fs::create_directory_symlink(fs::relative(tty, SysRoot / "class" / "tty"), SysRoot / "class" / "tty" / Name);
}

} // namespace filetests

using namespace filetests;

namespace {

class ComPortsTest : public testing::Test {
protected:
    void SetUp() override { Sys = MakeTempDir(); }
    void TearDown() override { fs::remove_all(Sys); }

    fs::path Sys;
};

TEST_F(ComPortsTest, ListsPortsWithHardwareSorted)
{
    AddTty(Sys, "ttyUSB0", "ftdi_sio", nullptr);
    AddTty(Sys, "tty", nullptr, nullptr);
    AddTty(Sys, "ttyS1", "serial8250", "0");    // a slot without a UART
    AddTty(Sys, "ttyACM0", "cdc_acm", nullptr);
    AddTty(Sys, "ttyS10", "serial", "4");
    AddTty(Sys, "tty1", nullptr, nullptr);
    AddTty(Sys, "ttyS0", "serial8250", "4");
    AddTty(Sys, "ttyusb1", "pl2303", nullptr);
    AddTty(Sys, "ttyX0", "", nullptr);          // no driver bound
    AddTty(Sys, "ttyS2", "serial", "4");
    AddTty(Sys, "console", nullptr, nullptr);
    AddTty(Sys, "ptmx", nullptr, nullptr);
    AddTty(Sys, "serial!port0", "sub_serial", nullptr);

    std::vector<std::string> ports{"stale"};
    ListComPorts(ports, Sys);
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/serial/port0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS10",
                                               "/dev/ttyS2", "/dev/ttyUSB0", "/dev/ttyusb1"}));

    ListComPorts(ports, Sys, "/root/devices");
    EXPECT_EQ(ports.front(), "/root/devices/serial/port0");
}

TEST_F(ComPortsTest, ListsBluetoothPortsBoundOrConnected)
{
    AddTty(Sys, "ttyUSB0", "ftdi_sio", nullptr);
    AddBluetoothTty(Sys, "rfcomm0", false);
    AddBluetoothTty(Sys, "rfcomm1", true);
    AddBluetoothTty(Sys, "rfcomm12", true);
    AddTty(Sys, "tty1", nullptr, nullptr);
    AddTty(Sys, "rfcommx", nullptr, nullptr); // no Bluetooth port's name

    std::vector<std::string> ports;
    ListComPorts(ports, Sys);
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/rfcomm0", "/dev/rfcomm1", "/dev/rfcomm12", "/dev/ttyUSB0"}));
}

TEST_F(ComPortsTest, UnreadableListLeavesTargetAloneEmptyListClearsIt)
{
    std::vector<std::string> ports{"kept"};
    ListComPorts(ports, Sys);
    EXPECT_EQ(ports, std::vector<std::string>{"kept"});

    fs::create_directories(Sys / "class" / "tty");
    ListComPorts(ports, Sys);
    EXPECT_TRUE(ports.empty());
}

struct SortCase {
    std::vector<std::string> names;
    std::vector<std::string> sorted;
};

class SortComPortsTest : public testing::TestWithParam<SortCase> {};

TEST_P(SortComPortsTest, WholeNamesCharacterByCharacterCaseIgnored)
{
    std::vector<std::string> names = GetParam().names;
    SortComPorts(names);
    EXPECT_EQ(names, GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(Order, SortComPortsTest, testing::Values(
    SortCase{{"COM3", "COM10", "COM2", "COM1"}, {"COM1", "COM10", "COM2", "COM3"}},
    SortCase{{"com5", "COM4"}, {"COM4", "com5"}},
    SortCase{{"ttyS1", "ttyS", "ttyS1"}, {"ttyS", "ttyS1", "ttyS1"}},
    SortCase{{"b", "A", "B", "a"}, {"A", "a", "b", "B"}},
    SortCase{{}, {}}));

TEST(ComPortsSystemTest, ListsThisMachinesPortsSortedAndNoneOfItsTerminals)
{
    const fs::path classTty = "/sys/class/tty";
    if (!fs::is_directory(classTty)) GTEST_SKIP() << "no sysfs on this machine";
    std::vector<std::string> ports{"stale"};
    ListComPorts(ports);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "stale"), 0) << "the list was not replaced";

    // Every Linux system has these terminals: they are there, and left out.
    for (const std::string own : {"console", "ptmx", "tty", "tty0"}) {
        EXPECT_TRUE(fs::exists(classTty / own)) << own;
        EXPECT_EQ(std::count(ports.begin(), ports.end(), "/dev/" + own), 0) << own;
    }
    const std::regex ownTerminal("/dev/(tty[0-9]*|console|ptmx|pts/.*)");
    for (const std::string& port : ports) {
        ASSERT_EQ(port.rfind("/dev/", 0), 0u) << port;
        EXPECT_FALSE(std::regex_match(port, ownTerminal)) << port;
        std::string entry = port.substr(5);
        std::replace(entry.begin(), entry.end(), '/', '!');
        EXPECT_TRUE(fs::exists(classTty / entry)) << port << " is no tty of this machine";
    }

    // The order, worked out here: names compared with their ASCII letters
    // lowered, equal ones in the order found.
    const auto lowered = [](std::string Name) {
        for (char& ch : Name)
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        return Name;
    };
    std::vector<std::string> sorted = ports;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& a, const std::string& b) { return lowered(a) < lowered(b); });
    EXPECT_EQ(ports, sorted);

    if (ports.empty()) GTEST_SKIP() << "no serial port on this machine: only the terminals were checked";
}

} // namespace

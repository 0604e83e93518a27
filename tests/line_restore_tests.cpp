// A terminal named as the port is left as it was found: a pseudo-terminal
// in normal (cooked) mode comes back cooked, at its own speed.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "serial/ComPort.h"

namespace {

TEST(LineRestore, ACookedPseudoTerminalIsLeftCookedAtItsSpeed)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios found{};
    ::tcgetattr(slave, &found);
    found.c_lflag |= ICANON | ECHO | ISIG;
    found.c_cflag |= HUPCL;
    ::cfsetspeed(&found, B2400);
    ::tcsetattr(slave, TCSANOW, &found);
    ::tcgetattr(slave, &found);

    {
        TComPort port(nullptr);
        port.SetPort(name);
        port.SetBaudRate(TBaudRate::br115200);
        port.Open();
        termios open{};
        ::tcgetattr(slave, &open);
        EXPECT_FALSE(open.c_lflag & ICANON);
        EXPECT_EQ(cfgetospeed(&open), B115200);
        port.Close();
    }
    termios after{};
    ::tcgetattr(slave, &after);
    EXPECT_EQ(after.c_lflag, found.c_lflag);
    EXPECT_EQ(after.c_iflag, found.c_iflag);
    EXPECT_EQ(after.c_oflag, found.c_oflag);
    EXPECT_EQ(after.c_cflag, found.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), B2400);
    ::close(slave);
    ::close(master);
}

} // namespace

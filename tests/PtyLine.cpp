#include "PtyLine.h"

#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

TPtyLine::TPtyLine()
{
    char name[128] = {};
    if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    FPath = name;
    termios t{};
    ::tcgetattr(FSlave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FSlave, TCSANOW, &t);
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TPtyLine::~TPtyLine()
{
    if (FMaster >= 0) ::close(FMaster);
    if (FSlave >= 0) ::close(FSlave);
}

void TPtyLine::DeviceWrite(const std::vector<uint8_t>& Bytes)
{
    size_t done = 0;
    while (done < Bytes.size()) {
        const ssize_t n = ::write(FMaster, Bytes.data() + done, Bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{FMaster, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
    }
}

std::vector<uint8_t> TPtyLine::DeviceRead(size_t Count, std::chrono::milliseconds Limit)
{
    std::vector<uint8_t> bytes;
    const auto until = std::chrono::steady_clock::now() + Limit;
    while (bytes.size() < Count && std::chrono::steady_clock::now() < until) {
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        uint8_t buffer[4096];
        const ssize_t n = ::read(FMaster, buffer, std::min(sizeof buffer, Count - bytes.size()));
        if (n > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void TPtyLine::Unplug()
{
    if (FSlave >= 0) ::close(FSlave);
    FSlave = -1;
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
}

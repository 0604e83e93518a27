#include "SimDeviceProcess.h"

#include <fstream>
#include <stdexcept>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

std::string SimDeviceProgram()
{
    return SIMDEVICE_PATH;
}

TSimDeviceProcess::TSimDeviceProcess(const std::vector<std::string>& Options)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {SimDeviceProgram()};
    args.insert(args.end(), Options.begin(), Options.end());
    FPid = ::fork();
    if (FPid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    FOutput = pipeFds[0];
    FPath = NextLine(10000);
    if (FPath.empty()) throw std::runtime_error("the simulated device did not start");
}

TSimDeviceProcess::~TSimDeviceProcess()
{
    Stop();
    if (FOutput >= 0) ::close(FOutput);
}

std::string TSimDeviceProcess::NextLine(int TimeoutMs)
{
    for (;;) {
        const size_t end = FPending.find('\n');
        if (end != std::string::npos) {
            std::string line = FPending.substr(0, end);
            FPending.erase(0, end + 1);
            return line;
        }
        pollfd p{FOutput, POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return {};
        char buffer[256];
        const ssize_t n = ::read(FOutput, buffer, sizeof buffer);
        if (n <= 0) return {};
        FPending.append(buffer, static_cast<size_t>(n));
    }
}

void TSimDeviceProcess::Stop()
{
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
}

std::vector<std::string> ReadLines(const std::string& File)
{
    std::ifstream in(File);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

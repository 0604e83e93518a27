#include "WineDevice.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string Environment(const char* Name)
{
    const char* value = std::getenv(Name);
    return value ? value : "";
}

std::vector<std::string> ReadLines(const std::string& LinuxPath)
{
    std::ifstream in(WinePath(LinuxPath).c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool Exists(const std::string& LinuxPath)
{
    return GetFileAttributesW(WinePath(LinuxPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitFor(const std::string& LinuxPath, int TimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Exists(LinuxPath)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(10);
    }
    return true;
}

} // namespace

std::string TWineTestSetup::Missing() const
{
    std::string missing;
    if (Port.empty()) missing += " WINTEST_PORT";
    if (PortLink.empty()) missing += " WINTEST_PORT_LINK";
    if (SimDevice.empty()) missing += " WINTEST_SIMDEVICE";
    if (Runner.empty()) missing += " WINTEST_DEVICE_RUNNER";
    if (ScratchDir.empty()) missing += " WINTEST_SCRATCH";
    return missing;
}

const TWineTestSetup& WineTestSetup()
{
    static const TWineTestSetup setup{Environment("WINTEST_PORT"), Environment("WINTEST_PORT_LINK"),
                                      Environment("WINTEST_SIMDEVICE"), Environment("WINTEST_DEVICE_RUNNER"),
                                      Environment("WINTEST_SCRATCH")};
    return setup;
}

std::wstring WinePath(const std::string& LinuxPath)
{
    std::wstring path = L"Z:";
    for (char c : LinuxPath) path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

TWineDevice::TWineDevice(const std::vector<std::string>& Options)
{
    static std::atomic<int> started{0};
    const TWineTestSetup& setup = WineTestSetup();
    FDir = setup.ScratchDir + "/device-" + std::to_string(++started);
    CreateDirectoryW(WinePath(FDir).c_str(), nullptr);

    std::string command = "/bin/sh " + setup.Runner + " " + FDir + " " + setup.SimDevice + " --link " +
                          setup.PortLink + " --dump " + FDir + "/device-log.txt --log " + FDir + "/device.log";
    for (const std::string& option : Options) command += " " + option;
    std::wstring commandLine(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::runtime_error("cannot start the simulated device: error " + std::to_string(GetLastError()));
    // A Linux program started by wine has no handles to close.
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    FRunning = true;
    if (NextLine(10000).empty()) {
        Stop();
        throw std::runtime_error("the simulated device did not start");
    }
}

TWineDevice::~TWineDevice()
{
    Stop();
}

std::vector<std::string> TWineDevice::Log() const
{
    return ReadLines(FDir + "/device-log.txt");
}

std::string TWineDevice::NextLine(int TimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        // Only whole lines: the last one counts once the next has begun or
        // it ends in a line break.
        std::ifstream in(WinePath(FDir + "/out").c_str(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<std::string> lines;
        std::istringstream all(text.str());
        for (std::string line; std::getline(all, line);) lines.push_back(line);
        if (!text.str().empty() && text.str().back() != '\n') lines.pop_back();
        if (lines.size() > FLinesRead) return lines[FLinesRead++];
        if (std::chrono::steady_clock::now() > deadline) return {};
        Sleep(10);
    }
}

void TWineDevice::Stop()
{
    if (!FRunning) return;
    FRunning = false;
    const HANDLE stop = CreateFileW(WinePath(FDir + "/stop").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stop != INVALID_HANDLE_VALUE) CloseHandle(stop);
    WaitFor(FDir + "/stopped", 5000);
}

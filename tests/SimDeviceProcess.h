#pragma once
// The simulated device as a running program, for the end-to-end tests and
// the benchmarks.

#include <string>
#include <vector>

class TSimDeviceProcess {
public:
    // Starts the device with these options; waits for the path it prints.
    explicit TSimDeviceProcess(const std::vector<std::string>& Options);
    ~TSimDeviceProcess();
    TSimDeviceProcess(const TSimDeviceProcess&) = delete;
    TSimDeviceProcess& operator=(const TSimDeviceProcess&) = delete;

    const std::string& Path() const { return FPath; }
    // The next line it prints (the new path after a replug), or "" on time-out.
    std::string NextLine(int TimeoutMs);
    void Stop();

private:
    int FPid = -1;
    int FOutput = -1;
    std::string FPending;
    std::string FPath;
};

// The simulated device program that the build made.
std::string SimDeviceProgram();
std::vector<std::string> ReadLines(const std::string& File);

#pragma once
// The simulated device (a Linux program) as a Windows test program under
// wine sees it: started through wine, on a pseudo-terminal behind a symlink
// that wine shows as a COM port. The harness (run-window-tests.sh) names
// the port, the symlink, the device program and a scratch folder in the
// environment.

#include <string>
#include <vector>

struct TWineTestSetup {
    std::string Port;        // "COM5"
    std::string PortLink;    // the Linux path wine's port points at
    std::string SimDevice;   // the Linux path of the device program
    std::string Runner;      // run-device.sh
    std::string ScratchDir;  // a Linux folder for the device's files
    // Empty when everything is there; otherwise what is missing.
    std::string Missing() const;
};

const TWineTestSetup& WineTestSetup();

// "/tmp/x" as wine shows it, "Z:\tmp\x".
std::wstring WinePath(const std::string& LinuxPath);

class TWineDevice {
public:
    // Starts the device on the port with these further options and waits
    // until it serves the line.
    explicit TWineDevice(const std::vector<std::string>& Options);
    ~TWineDevice();
    TWineDevice(const TWineDevice&) = delete;
    TWineDevice& operator=(const TWineDevice&) = delete;

    // The records it holds, UTF-8, index 0 first.
    std::vector<std::string> Log() const;
    // The next line the device prints (the new path after a replug), or ""
    // on time-out.
    std::string NextLine(int TimeoutMs);
    void Stop();

private:
    std::string FDir;
    size_t FLinesRead = 0;
    bool FRunning = false;
};

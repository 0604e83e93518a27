#pragma once
// A pseudo-terminal as the serial line: the component opens the slave side
// by its path, the test plays the device on the master side.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MainThreadPump.h"

class TPtyLine {
public:
    TPtyLine();
    ~TPtyLine();
    TPtyLine(const TPtyLine&) = delete;
    TPtyLine& operator=(const TPtyLine&) = delete;

    const std::string& Path() const { return FPath; }
    int Master() const { return FMaster; }
    // An open fd of the slave side, for reading its settings back.
    int Slave() const { return FSlave; }

    void DeviceWrite(const std::vector<uint8_t>& Bytes);
    // What the tool wrote, waiting up to a generous limit for Count bytes.
    std::vector<uint8_t> DeviceRead(size_t Count, std::chrono::milliseconds Limit = std::chrono::seconds(5));
    // The device goes away: the master side is closed.
    void Unplug();

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FPath;
};

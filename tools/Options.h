#pragma once
// The simulated device's command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/Device.h"
#include "tools/DeviceLog.h"
#include "tools/Faults.h"

namespace SimDevice {

struct Options {
    uint8_t Address = 1;
    std::string Version = "V2.14";
    int32_t Serial = 20231187;
    size_t Records = 300;
    uint32_t Seed = 1;
    std::optional<LengthRange> Lengths; // set by --min-length / --max-length
    std::string RecordsFile;
    std::string Dump;
    std::string Link;
    std::string Log;
    std::string AnswerTimes;
    bool Pace = false;
    int32_t Baud = 0; // 0: the speed the master set on the line
    std::chrono::milliseconds Delay{0};
    std::chrono::milliseconds SplitGap{0};
    CountByte RecordCount = CountByte::Text;
    FaultPlan Faults;
    std::optional<std::chrono::milliseconds> Replug;
    bool Help = false;
};

// Throws std::invalid_argument with a message naming the bad argument.
Options ParseOptions(std::span<const std::string_view> Args);

std::string Usage();

} // namespace SimDevice

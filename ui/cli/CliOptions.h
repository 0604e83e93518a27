#pragma once
// The command line of actionlog: its subcommands and their options.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Exceptions.h"

enum class TCliCommand : uint8_t { ccHelp, ccVersion, ccDownload, ccPorts, ccScan };

struct TCliOptions {
    TCliCommand Command = TCliCommand::ccHelp;
    bool Trace = false;
    std::string Port;
    // download: one speed; scan: each speed to try. Texts of the speed list.
    std::vector<std::string> Speeds;
    int32_t Address = 1;
    std::optional<int32_t> Index;
    std::optional<int32_t> Count;
    std::optional<std::string> Output;
    std::vector<int32_t> Addresses;
    std::optional<std::chrono::milliseconds> Timeout;
};

// A command line that asks for something impossible; the message is one line.
class EUsage : public Exception {
public:
    using Exception::Exception;
};

// The speeds the window offers.
inline constexpr std::string_view SpeedList[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

// Args without the program's name. Raises EUsage.
TCliOptions ParseCommandLine(std::span<const std::string_view> Args);

// The text of --help, laid out so that a manual page can be made from it.
std::string HelpText();
std::string VersionText();

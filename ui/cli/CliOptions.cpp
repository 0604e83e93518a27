#include "ui/cli/CliOptions.h"

#include <algorithm>
#include <map>
#include <set>

#include "runtime/Convert.h"

namespace {

using TOptionSet = std::set<std::string_view>;

const std::map<std::string_view, TCliCommand> Commands = {
    {"download", TCliCommand::ccDownload},
    {"ports", TCliCommand::ccPorts},
    {"scan", TCliCommand::ccScan},
};

// The options that take a value, and the commands that have them.
const std::map<std::string_view, std::set<TCliCommand>> ValueOptions = {
    {"--port", {TCliCommand::ccDownload, TCliCommand::ccScan}},
    {"--speed", {TCliCommand::ccDownload, TCliCommand::ccScan}},
    {"--address", {TCliCommand::ccDownload}},
    {"--index", {TCliCommand::ccDownload}},
    {"--count", {TCliCommand::ccDownload}},
    {"--output", {TCliCommand::ccDownload}},
    {"--addresses", {TCliCommand::ccScan}},
    {"--timeout", {TCliCommand::ccScan}},
};

std::string_view CommandName(TCliCommand Command)
{
    for (const auto& [name, command] : Commands)
        if (command == Command) return name;
    return "";
}

int32_t Number(std::string_view Option, std::string_view Text, int32_t Low, int32_t High, const char* What)
{
    int32_t value = 0;
    try {
        value = StrToInt(Text);
    } catch (const EConvertError& e) {
        throw EUsage(std::string(Option) + ": " + e.what());
    }
    if (value < Low || value > High)
        throw EUsage(std::string(Option) + ": " + IntToStr(value) + " is not " + What + " from " + IntToStr(Low) +
                     " to " + IntToStr(High));
    return value;
}

std::string Speed(std::string_view Option, std::string_view Text)
{
    if (std::find(std::begin(SpeedList), std::end(SpeedList), Text) == std::end(SpeedList)) {
        std::string list;
        for (std::string_view s : SpeedList) list += (list.empty() ? "" : ", ") + std::string(s);
        throw EUsage(std::string(Option) + ": '" + std::string(Text) + "' is not one of the speeds " + list);
    }
    return std::string(Text);
}

std::vector<std::string_view> Split(std::string_view Text, char Separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t at = Text.find(Separator);
        parts.push_back(Text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        Text.remove_prefix(at + 1);
    }
}

constexpr int32_t LowestAddress = 1;
constexpr int32_t HighestAddress = 255;

// "1-247", "17", "1-5,17,30-40"; each address once, in the order given.
std::vector<int32_t> AddressList(std::string_view Option, std::string_view Text)
{
    std::vector<int32_t> addresses;
    std::set<int32_t> seen;
    for (std::string_view item : Split(Text, ',')) {
        const size_t dash = item.find('-', 1); // a leading sign is not a range
        const int32_t first = Number(Option, item.substr(0, dash), LowestAddress, HighestAddress, "an address");
        const int32_t last = dash == std::string_view::npos
                                 ? first
                                 : Number(Option, item.substr(dash + 1), LowestAddress, HighestAddress, "an address");
        if (last < first) throw EUsage(std::string(Option) + ": the range '" + std::string(item) + "' runs backwards");
        for (int32_t a = first; a <= last; ++a)
            if (seen.insert(a).second) addresses.push_back(a);
    }
    return addresses;
}

} // namespace

TCliOptions ParseCommandLine(std::span<const std::string_view> Args)
{
    TCliOptions o;
    std::optional<TCliCommand> command;
    bool help = false;
    bool version = false;
    std::vector<std::pair<std::string_view, std::string_view>> values;

    for (size_t i = 0; i < Args.size(); ++i) {
        std::string_view arg = Args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--trace") {
            o.Trace = true;
        } else if (arg.starts_with("-")) {
            std::string_view value;
            bool inlineValue = false;
            if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
            if (!ValueOptions.contains(arg)) throw EUsage("unknown option '" + std::string(Args[i]) + "'");
            if (!inlineValue) {
                if (i + 1 == Args.size()) throw EUsage(std::string(arg) + " needs a value");
                value = Args[++i];
            }
            values.emplace_back(arg, value);
        } else if (!command) {
            const auto it = Commands.find(arg);
            if (it == Commands.end()) throw EUsage("unknown command '" + std::string(arg) + "'");
            command = it->second;
        } else {
            throw EUsage("unexpected argument '" + std::string(arg) + "'");
        }
    }
    if (help) return o;
    if (version) {
        o.Command = TCliCommand::ccVersion;
        return o;
    }
    if (!command) throw EUsage("no command given: download, ports or scan");
    o.Command = *command;

    for (const auto& [option, value] : values) {
        if (!ValueOptions.at(option).contains(o.Command))
            throw EUsage(std::string(option) + " is not an option of " + std::string(CommandName(o.Command)));
        if (option == "--port") {
            if (value.empty()) throw EUsage("--port: the port name is empty");
            o.Port = value;
        } else if (option == "--speed") {
            o.Speeds.clear();
            for (std::string_view speed : Split(value, ',')) {
                if (o.Command == TCliCommand::ccDownload && !o.Speeds.empty())
                    throw EUsage("--speed: download takes one speed");
                o.Speeds.push_back(Speed(option, speed));
            }
        } else if (option == "--address") {
            o.Address = Number(option, value, LowestAddress, HighestAddress, "an address");
        } else if (option == "--index") {
            o.Index = Number(option, value, 0, 65534, "a record index");
        } else if (option == "--count") {
            o.Count = Number(option, value, 0, 65535, "a record count");
        } else if (option == "--output") {
            if (value.empty()) throw EUsage("--output: the file name is empty");
            o.Output = value;
        } else if (option == "--addresses") {
            o.Addresses = AddressList(option, value);
        } else if (option == "--timeout") {
            o.Timeout = std::chrono::milliseconds{Number(option, value, 1, 60000, "a time-out in ms")};
        }
    }
    if (o.Command != TCliCommand::ccPorts && o.Port.empty())
        throw EUsage(std::string(CommandName(o.Command)) + " needs --port");
    if (o.Speeds.empty()) o.Speeds.push_back("19200");
    if (o.Addresses.empty())
        for (int32_t a = 1; a <= 247; ++a) o.Addresses.push_back(a);
    return o;
}

std::string VersionText()
{
    return "actionlog " ACTIONLOG_VERSION "\n";
}

std::string HelpText()
{
    return R"(Usage: actionlog COMMAND [OPTION]...
Read the user actions log out of a metering device over a serial line
(Modbus RTU), without the window: for scripts, data collectors and diagnosis.

Commands:
  download      connect to the device (identify, serial number, record count),
                fetch its log records from the newest down and save them in
                the file the window's Save writes
  ports         list the serial ports present, one per line, as the window
                offers them
  scan          send the identify request to each address at each speed and
                print each device that answers, one per line: address, speed,
                version text, serial number and record count, separated by
                tabs

Options of download:
  --port P      the serial port: a name under /dev (ttyUSB0) or a path
  --speed S     line speed in bit/s: 1200, 2400, 4800, 9600, 19200, 38400,
                57600 or 115200 (default 19200)
  --address A   the device's bus address, 1 to 255 (default 1)
  --index N     the first record to fetch; records are fetched from it
                downwards (default: the newest, the record count - 1)
  --count M     how many records to fetch (default: all from --index down
                to 0)
  --output FILE save to FILE instead of "Журнал_ЛОРНИК_<serial number>.txt"
                in the current folder

Options of scan:
  --port P      the serial port
  --speed S[,S...]
                the speeds to try, in that order (default 19200)
  --addresses LIST
                the addresses to try: numbers and ranges separated by commas,
                such as 1-10,17 (default 1-247)
  --timeout MS  how long each address has to answer (default 100 ms plus the
                time of 40 characters at the speed)

Options of every command:
  --trace       write every frame sent and received to the standard error,
                with a time stamp in milliseconds, its bytes in hex and what
                was made of it: the request or answer, checksum good or bad,
                "dropped: no request awaits it", "resent"
  -h, --help    show this text and exit
  --version     show the program's version and exit

Numbers may be decimal, or hexadecimal after $ or 0x. Messages and the
progress of a download go to the standard error: a progress bar on a
terminal, otherwise one line for every 5 % of the records. Only what a command
exists for goes to the standard output. The connection settings file
"Settings.txt" of the window is neither read nor written.

A download ended by SIGINT (Ctrl-C) or SIGTERM ends as the window's Stop
does: the answer already on its way is taken, and the records that came are
saved. The file is written under a temporary name and renamed when it is
complete, so no partial file is left behind.

Exit status:
  0    done
  1    the device did not answer ("Прибор не отвечает"); scan: no device
       answered. The records that came before are saved.
  2    usage error; nothing is written
  3    the port could not be opened or failed, with the window's message
  4    the log could not be saved
  130  interrupted by SIGINT or SIGTERM

Examples:
  actionlog ports
  actionlog scan --port ttyUSB0 --speed 9600,19200 --addresses 1-32
  actionlog download --port ttyUSB0 --speed 19200 --address 17
  actionlog download --port /dev/ttyUSB0 --index 99 --count 10 --output last.txt
  actionlog download --port ttyUSB0 --trace 2> trace.txt
)";
}

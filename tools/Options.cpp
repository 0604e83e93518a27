#include "tools/Options.h"

#include <charconv>
#include <functional>
#include <map>
#include <stdexcept>

namespace SimDevice {

namespace {

template <typename T>
T Number(std::string_view Option, std::string_view Text, int64_t Low, int64_t High)
{
    int64_t value = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (error != std::errc{} || end != Text.data() + Text.size() || value < Low || value > High)
        throw std::invalid_argument(std::string(Option) + ": '" + std::string(Text) + "' is not a number from " +
                                    std::to_string(Low) + " to " + std::to_string(High));
    return static_cast<T>(value);
}

std::chrono::milliseconds Millis(std::string_view Option, std::string_view Text)
{
    return std::chrono::milliseconds{Number<int64_t>(Option, Text, 0, 3'600'000)};
}

CountByte CountByteOf(std::string_view Option, std::string_view Text)
{
    if (Text == "text") return CountByte::Text;
    if (Text == "all") return CountByte::All;
    if (Text == "zero") return CountByte::Zero;
    if (Text == "random") return CountByte::Random;
    throw std::invalid_argument(std::string(Option) + ": '" + std::string(Text) +
                                "' is none of text, all, zero, random");
}

LengthRange& LengthsOf(Options& o)
{
    if (!o.Lengths) o.Lengths.emplace();
    return *o.Lengths;
}

using Setter = std::function<void(Options&, std::string_view Option, std::string_view Value)>;

const std::map<std::string_view, Setter>& ValueOptions()
{
    constexpr int64_t Count = UINT32_MAX;
    static const std::map<std::string_view, Setter> options = {
        {"--address", [](Options& o, auto n, auto v) { o.Address = Number<uint8_t>(n, v, 1, 255); }},
        {"--version", [](Options& o, auto, auto v) { o.Version = v; }},
        {"--serial", [](Options& o, auto n, auto v) { o.Serial = Number<int32_t>(n, v, INT32_MIN, INT32_MAX); }},
        {"--records", [](Options& o, auto n, auto v) { o.Records = Number<size_t>(n, v, 0, 65535); }},
        {"--seed", [](Options& o, auto n, auto v) { o.Seed = Number<uint32_t>(n, v, 0, Count); }},
        {"--min-length", [](Options& o, auto n, auto v) { LengthsOf(o).Min = Number<size_t>(n, v, 0, 250); }},
        {"--max-length", [](Options& o, auto n, auto v) { LengthsOf(o).Max = Number<size_t>(n, v, 0, 250); }},
        {"--records-file", [](Options& o, auto, auto v) { o.RecordsFile = v; }},
        {"--dump", [](Options& o, auto, auto v) { o.Dump = v; }},
        {"--link", [](Options& o, auto, auto v) { o.Link = v; }},
        {"--log", [](Options& o, auto, auto v) { o.Log = v; }},
        {"--answer-times", [](Options& o, auto, auto v) { o.AnswerTimes = v; }},
        {"--baud", [](Options& o, auto n, auto v) { o.Baud = Number<int32_t>(n, v, 1, 100'000'000); }},
        {"--delay-ms", [](Options& o, auto n, auto v) { o.Delay = Millis(n, v); }},
        {"--split-gap-ms", [](Options& o, auto n, auto v) { o.SplitGap = Millis(n, v); }},
        {"--count-byte", [](Options& o, auto n, auto v) { o.RecordCount = CountByteOf(n, v); }},
        {"--drop-every", [](Options& o, auto n, auto v) { o.Faults.DropEvery = Number<uint32_t>(n, v, 0, Count); }},
        {"--corrupt-every",
         [](Options& o, auto n, auto v) { o.Faults.CorruptEvery = Number<uint32_t>(n, v, 0, Count); }},
        {"--late-every", [](Options& o, auto n, auto v) { o.Faults.LateEvery = Number<uint32_t>(n, v, 0, Count); }},
        {"--late-ms", [](Options& o, auto n, auto v) { o.Faults.Late = Millis(n, v); }},
        {"--unplug-after", [](Options& o, auto n, auto v) { o.Faults.UnplugAfter = Number<uint32_t>(n, v, 0, Count); }},
        {"--replug-ms", [](Options& o, auto n, auto v) { o.Replug = Millis(n, v); }},
    };
    return options;
}

} // namespace

Options ParseOptions(std::span<const std::string_view> Args)
{
    Options o;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string_view arg = Args[i];
        if (arg == "--pace") {
            o.Pace = true;
        } else if (arg == "--help" || arg == "-h") {
            o.Help = true;
        } else if (const auto it = ValueOptions().find(arg); it != ValueOptions().end()) {
            if (i + 1 == Args.size()) throw std::invalid_argument(std::string(arg) + " needs a value");
            it->second(o, arg, Args[++i]);
        } else {
            throw std::invalid_argument("unknown argument '" + std::string(arg) + "'");
        }
    }
    if (o.Lengths && o.Lengths->Min > o.Lengths->Max) throw std::invalid_argument("--min-length is above --max-length");
    if (o.Faults.LateEvery != 0 && o.Faults.Late.count() == 0)
        throw std::invalid_argument("--late-every needs --late-ms");
    if (o.Replug && o.Faults.UnplugAfter == 0) throw std::invalid_argument("--replug-ms needs --unplug-after");
    if (o.Version.size() > MaxRecordLength) throw std::invalid_argument("--version: longer than 250 bytes");
    return o;
}

std::string Usage()
{
    return R"(usage: simdevice [options]
A Modbus RTU slave playing the metering device on a new pseudo-terminal.
Prints the port's path (or --link PATH) as its first line, then serves until
SIGTERM or SIGINT. Requests and answers are logged to stderr or --log FILE.

  --address N          bus address, 1..255 (default 1)
  --version TEXT       identification text (default V2.14)
  --serial N           serial number, signed 32-bit (default 20231187)
  --records N          number of generated log records, 0..65535 (default 300)
  --seed S             seed of the generated log (default 1)
  --min-length A       record length range in Windows-1251 bytes, 0..250:
  --max-length B         records are lengthened or cut into it
  --records-file FILE  records from a UTF-8 file, one per line, instead
  --dump FILE          write the records as UTF-8 lines, index 0 first
  --link PATH          make PATH a symlink to the port; print PATH
  --log FILE           log to FILE instead of stderr
  --answer-times FILE  write the monotonic clock's time in nanoseconds at
                       which each answer's last byte is written to the
                       line, one a line
  --pace               send answers byte by byte at the line speed the
                       master set (10 bits a byte), after the request's own
                       line time
  --baud B             pace at B bit/s whatever the line is set to
  --delay-ms D         answer D ms after the request (default 0)
  --split-gap-ms G     send every answer in two halves G ms apart
  --count-byte MODE    what a record answer carries at position 2: text
                       (the text's length, default), all (the bytes after
                       it, checksum included), zero, or random (a byte
                       fixed per record and --seed)
Faults, counted over record answers (function 0x41) only:
  --drop-every K       no answer for every K-th record request
  --corrupt-every K    invert one byte of every K-th record answer
  --late-every K       every K-th record answer comes --late-ms L later
  --late-ms L
  --unplug-after N     close the line after the N-th record answer
  --replug-ms M        M ms later open a new one (re-pointing --link)
)";
}

} // namespace SimDevice

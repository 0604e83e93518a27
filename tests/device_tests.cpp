// The simulated device: its logic on its own, then the real program over a
// pseudo-terminal.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <fstream>
#include <poll.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "protocol/Frames.h"
#include "protocol/MyModbusUtils.h"
#include "runtime/CodePage.h"
#include "tools/Cp1251.h"
#include "tools/Device.h"
#include "tools/DeviceLog.h"
#include "tools/Faults.h"
#include "tools/Options.h"
#include "tools/RequestFramer.h"

extern char** environ;

namespace {

using namespace SimDevice;
using namespace std::chrono_literals;
using Kind = FramerEvent::TKind;

template <size_t N>
Bytes Of(const std::array<uint8_t, N>& Frame)
{
    return Bytes(Frame.begin(), Frame.end());
}

Bytes Join(std::initializer_list<Bytes> Parts)
{
    Bytes all;
    for (const auto& p : Parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Damaged(Bytes Frame)
{
    Frame.back() ^= 0x01;
    return Frame;
}

bool ChecksumHolds(std::span<const uint8_t> Frame)
{
    return MyModbusUtils::Crc16(Frame, 0, static_cast<int32_t>(Frame.size())) == 0;
}

// ---- Windows-1251 ----------------------------------------------------------

TEST(Encoder, CyrillicBecomesWindows1251)
{
    EXPECT_EQ(SimDevice::Utf8ToCp1251("Оператор: вход"),
              (Bytes{0xCE, 0xEF, 0xE5, 0xF0, 0xE0, 0xF2, 0xEE, 0xF0, 0x3A, 0x20, 0xE2, 0xF5, 0xEE, 0xE4}));
    EXPECT_EQ(SimDevice::Utf8ToCp1251("ЁёЯя№«»—€°"),
              (Bytes{0xA8, 0xB8, 0xDF, 0xFF, 0xB9, 0xAB, 0xBB, 0x97, 0x88, 0xB0}));
}

TEST(Encoder, EveryByteRoundTripsWithTheToolsDecoder)
{
    for (int b = 1; b < 256; ++b) {
        const Bytes one = {static_cast<uint8_t>(b)};
        EXPECT_EQ(SimDevice::Cp1251ToUtf8(one), ::Cp1251ToUtf8(one)) << b;
        EXPECT_EQ(SimDevice::Utf8ToCp1251(::Cp1251ToUtf8(one)), one) << b;
    }
}

// Every upper byte of Windows-1251 and its character, written out from the
// code page's published chart rather than taken from any table in the code,
// so a wrong entry shows in the device and in the tool alike. 0x98 has no
// character; it stands for U+0098, as the system's conversion does.
TEST(Encoder, EveryUpperByteIsItsWindows1251Character)
{
    const struct {
        uint8_t byte;
        const char* utf8;
    } chart[] = {
    {0x80, "Ђ"}, {0x81, "Ѓ"}, {0x82, "‚"}, {0x83, "ѓ"}, {0x84, "„"}, {0x85, "…"}, {0x86, "†"}, {0x87, "‡"},
    {0x88, "€"}, {0x89, "‰"}, {0x8A, "Љ"}, {0x8B, "‹"}, {0x8C, "Њ"}, {0x8D, "Ќ"}, {0x8E, "Ћ"}, {0x8F, "Џ"},
    {0x90, "ђ"}, {0x91, "‘"}, {0x92, "’"}, {0x93, "“"}, {0x94, "”"}, {0x95, "•"}, {0x96, "–"}, {0x97, "—"},
    {0x98, "\xC2\x98"}, {0x99, "™"}, {0x9A, "љ"}, {0x9B, "›"}, {0x9C, "њ"}, {0x9D, "ќ"}, {0x9E, "ћ"}, {0x9F, "џ"},
    {0xA0, "\u00A0"}, {0xA1, "Ў"}, {0xA2, "ў"}, {0xA3, "Ј"}, {0xA4, "¤"}, {0xA5, "Ґ"}, {0xA6, "¦"}, {0xA7, "§"},
    {0xA8, "Ё"}, {0xA9, "©"}, {0xAA, "Є"}, {0xAB, "«"}, {0xAC, "¬"}, {0xAD, "\u00AD"}, {0xAE, "®"}, {0xAF, "Ї"},
    {0xB0, "°"}, {0xB1, "±"}, {0xB2, "І"}, {0xB3, "і"}, {0xB4, "ґ"}, {0xB5, "µ"}, {0xB6, "¶"}, {0xB7, "·"},
    {0xB8, "ё"}, {0xB9, "№"}, {0xBA, "є"}, {0xBB, "»"}, {0xBC, "ј"}, {0xBD, "Ѕ"}, {0xBE, "ѕ"}, {0xBF, "ї"},
    {0xC0, "А"}, {0xC1, "Б"}, {0xC2, "В"}, {0xC3, "Г"}, {0xC4, "Д"}, {0xC5, "Е"}, {0xC6, "Ж"}, {0xC7, "З"},
    {0xC8, "И"}, {0xC9, "Й"}, {0xCA, "К"}, {0xCB, "Л"}, {0xCC, "М"}, {0xCD, "Н"}, {0xCE, "О"}, {0xCF, "П"},
    {0xD0, "Р"}, {0xD1, "С"}, {0xD2, "Т"}, {0xD3, "У"}, {0xD4, "Ф"}, {0xD5, "Х"}, {0xD6, "Ц"}, {0xD7, "Ч"},
    {0xD8, "Ш"}, {0xD9, "Щ"}, {0xDA, "Ъ"}, {0xDB, "Ы"}, {0xDC, "Ь"}, {0xDD, "Э"}, {0xDE, "Ю"}, {0xDF, "Я"},
    {0xE0, "а"}, {0xE1, "б"}, {0xE2, "в"}, {0xE3, "г"}, {0xE4, "д"}, {0xE5, "е"}, {0xE6, "ж"}, {0xE7, "з"},
    {0xE8, "и"}, {0xE9, "й"}, {0xEA, "к"}, {0xEB, "л"}, {0xEC, "м"}, {0xED, "н"}, {0xEE, "о"}, {0xEF, "п"},
    {0xF0, "р"}, {0xF1, "с"}, {0xF2, "т"}, {0xF3, "у"}, {0xF4, "ф"}, {0xF5, "х"}, {0xF6, "ц"}, {0xF7, "ч"},
    {0xF8, "ш"}, {0xF9, "щ"}, {0xFA, "ъ"}, {0xFB, "ы"}, {0xFC, "ь"}, {0xFD, "э"}, {0xFE, "ю"}, {0xFF, "я"},
    };
    ASSERT_EQ(std::size(chart), 128u);
    for (const auto& [byte, utf8] : chart) {
        const Bytes one = {byte};
        EXPECT_EQ(SimDevice::Cp1251ToUtf8(one), utf8) << "device decodes " << int(byte);
        EXPECT_EQ(::Cp1251ToUtf8(one), utf8) << "tool decodes " << int(byte);
        EXPECT_EQ(SimDevice::Utf8ToCp1251(utf8), one) << "device encodes " << utf8;
    }
}

TEST(Encoder, WhatWindows1251LacksBecomesAQuestionMark)
{
    const struct {
        std::string Utf8;
        std::string Expected;
    } cases[] = {
        {"日本", "??"},
        {"a\xF0\x9F\x98\x80z", "a?z"}, // outside the basic plane
        {std::string("a\0b", 3), "a?b"},
        {"\xD0", "?"},      // cut off
        {"\xC0\xAF", "??"}, // overlong
        {"\xE2\x82", "??"}, // cut off, three-byte form
        {"x\x80y", "x?y"},  // stray continuation byte
    };
    for (const auto& c : cases) {
        const Bytes got = SimDevice::Utf8ToCp1251(c.Utf8);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.Expected) << c.Utf8;
    }
    EXPECT_EQ(Utf8ToLatin1("é V1 Ж"), (Bytes{0xE9, ' ', 'V', '1', ' ', '?'}));
}

// ---- Request framing -------------------------------------------------------

TEST(Framer, CutsRequestsOutOfWhateverArrives)
{
    const Bytes identify = Of(Frames::IdentifyRequest(1));
    const Bytes serial = Of(Frames::SerialNumberRequest(1));
    const Bytes count = Of(Frames::RecordCountRequest(1));
    const Bytes record = Of(Frames::RecordRequest(1, 300));
    const struct {
        const char* Name;
        std::vector<Bytes> Chunks;
        std::vector<FramerEvent> Expected;
    } cases[] = {
        {"whole", {identify}, {{Kind::Request, identify}}},
        {"in three pieces",
         {Bytes(record.begin(), record.begin() + 2), Bytes(record.begin() + 2, record.begin() + 9),
          Bytes(record.begin() + 9, record.end())},
         {{Kind::Request, record}}},
        {"two in one read", {Join({serial, count})}, {{Kind::Request, serial}, {Kind::Request, count}}},
        {"unknown codes before",
         {Join({{0x00, 0xFF, 0x7E}, record})},
         {{Kind::Garbage, {0x00, 0xFF, 0x7E}}, {Kind::Request, record}}},
        // AA 03 looks like the start of an 8-byte request: it must not hold
        // back the identify request behind it.
        {"garbage that looks like a start",
         {Join({{0xAA, 0x03}, identify})},
         {{Kind::Garbage, {0xAA, 0x03}}, {Kind::Request, identify}}},
        {"bad checksum", {Damaged(identify)}, {{Kind::BadChecksum, Damaged(identify)}}},
        {"bad checksum, then a good one",
         {Damaged(record), serial},
         {{Kind::BadChecksum, Damaged(record)}, {Kind::Request, serial}}},
        {"cut off, then sent again",
         {Bytes(record.begin(), record.begin() + 6), record},
         {{Kind::Garbage, Bytes(record.begin(), record.begin() + 6)}, {Kind::Request, record}}},
    };
    for (const auto& c : cases) {
        RequestFramer framer;
        std::vector<FramerEvent> events;
        for (const auto& chunk : c.Chunks) {
            const auto more = framer.Push(chunk);
            events.insert(events.end(), more.begin(), more.end());
        }
        const auto rest = framer.Flush();
        events.insert(events.end(), rest.begin(), rest.end());
        EXPECT_EQ(events, c.Expected) << c.Name;
    }
}

TEST(Framer, SilenceEndsAnUnfinishedRequest)
{
    const Bytes record = Of(Frames::RecordRequest(1, 5));
    RequestFramer framer;
    EXPECT_TRUE(framer.Push(std::span(record).first(7)).empty());
    EXPECT_TRUE(framer.Pending());
    EXPECT_EQ(framer.Flush(), (std::vector<FramerEvent>{{Kind::Garbage, Bytes(record.begin(), record.begin() + 7)}}));
    EXPECT_EQ(framer.Push(record), (std::vector<FramerEvent>{{Kind::Request, record}}));
}

// ---- Answers ---------------------------------------------------------------

Device TestDevice()
{
    std::vector<Bytes> records = GenerateLog(300, 3, std::nullopt);
    records[0] = {'A', 'B', 'C'};
    records[1] = SimDevice::Utf8ToCp1251("Журнал");
    records[299] = {};
    return Device({1, {'V', '2', '.', '1', '4'}, -2}, std::move(records));
}

TEST(Device, AnswersEachRequestWithItsBytes)
{
    const Device device = TestDevice();
    const struct {
        const char* Name;
        Bytes Request;
        std::optional<Bytes> Expected; // without the checksum
    } cases[] = {
        {"identify", Of(Frames::IdentifyRequest(1)), Bytes{0x01, 0x11, 0x05, 'V', '2', '.', '1', '4'}},
        {"serial number", Of(Frames::SerialNumberRequest(1)), Bytes{0x01, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFE}},
        {"record count", Of(Frames::RecordCountRequest(1)), Bytes{0x01, 0x04, 0x02, 0x01, 0x2C}},
        {"record 0", Of(Frames::RecordRequest(1, 0)), Bytes{0x01, 0x41, 0x03, 'A', 'B', 'C'}},
        {"an empty record", Of(Frames::RecordRequest(1, 299)), Bytes{0x01, 0x41, 0x00}},
        {"index it lacks", Of(Frames::RecordRequest(1, 300)), Bytes{0x01, 0xC1, 0x02}},
        {"highest index", Of(Frames::RecordRequest(1, 65535)), Bytes{0x01, 0xC1, 0x02}},
        {"other registers", WithChecksum({0x01, 0x03, 0x80, 0x07, 0x00, 0x02}), Bytes{0x01, 0x83, 0x02}},
        {"another address", Of(Frames::IdentifyRequest(2)), std::nullopt},
        {"broadcast", Of(Frames::RecordCountRequest(0)), std::nullopt},
    };
    for (const auto& c : cases) {
        const Reply reply = device.Respond(c.Request);
        ASSERT_EQ(reply.Answer.has_value(), c.Expected.has_value()) << c.Name;
        if (!c.Expected) continue;
        const Bytes& answer = *reply.Answer;
        ASSERT_EQ(answer.size(), c.Expected->size() + 2) << c.Name;
        EXPECT_TRUE(std::equal(c.Expected->begin(), c.Expected->end(), answer.begin())) << c.Name;
        EXPECT_TRUE(ChecksumHolds(answer)) << c.Name;
        EXPECT_EQ(reply.IsRecordAnswer, c.Request[1] == 0x41) << c.Name;
    }
}

TEST(Device, AnswersDecodeWithTheToolsDecoders)
{
    const Device device = TestDevice();
    const auto answer = [&](auto Request) { return *device.Respond(Of(Request)).Answer; };
    EXPECT_EQ(Frames::VersionText(answer(Frames::IdentifyRequest(1))), "V2.14");
    EXPECT_EQ(Frames::SerialNumberText(answer(Frames::SerialNumberRequest(1))), "-2");
    EXPECT_EQ(Frames::RecordCount(answer(Frames::RecordCountRequest(1))), 300);
    EXPECT_EQ(Frames::RecordText(answer(Frames::RecordRequest(1, 1))), "Журнал");
    for (int32_t index : {2, 255, 256, 298})
        EXPECT_EQ(Frames::RecordText(answer(Frames::RecordRequest(1, index))),
                  ::Cp1251ToUtf8(device.Records()[static_cast<size_t>(index)]));
}

TEST(Device, PutsAtPosition2WhatItWasToldTo)
{
    std::vector<Bytes> records = GenerateLog(200, 5, LengthRange{0, 250});
    records[0] = {'A', 'B', 'C'};
    const struct {
        CountByte Mode;
        std::function<bool(uint8_t Byte, size_t TextLength)> Holds;
    } cases[] = {
        {CountByte::Text, [](uint8_t b, size_t n) { return b == n; }},
        {CountByte::All, [](uint8_t b, size_t n) { return b == n + 2; }},
        {CountByte::Zero, [](uint8_t b, size_t) { return b == 0; }},
    };
    for (const auto& c : cases) {
        const Device device({1, {}, 0}, records, c.Mode);
        for (uint16_t index = 0; index < records.size(); ++index) {
            const Bytes answer = *device.Respond(Of(Frames::RecordRequest(1, index))).Answer;
            ASSERT_TRUE(ChecksumHolds(answer));
            ASSERT_TRUE(c.Holds(answer[2], records[index].size())) << static_cast<int>(c.Mode) << " record " << index;
        }
    }
    // The example answer of the protocol: 01 41 05 41 42 43 and the checksum.
    EXPECT_EQ(Device({1, {}, 0}, records, CountByte::All).Respond(Of(Frames::RecordRequest(1, 0))).Answer->at(2), 5);

    // Random: the same byte for a record every time, and one that mostly
    // says nothing about the answer's length.
    const Device random({1, {}, 0}, records, CountByte::Random, 9);
    size_t agreeing = 0;
    std::set<uint8_t> seen;
    for (uint16_t index = 0; index < records.size(); ++index) {
        const Bytes answer = *random.Respond(Of(Frames::RecordRequest(1, index))).Answer;
        EXPECT_EQ(answer, *random.Respond(Of(Frames::RecordRequest(1, index))).Answer);
        EXPECT_TRUE(ChecksumHolds(answer));
        seen.insert(answer[2]);
        if (answer[2] == records[index].size() || answer[2] == records[index].size() + 2) ++agreeing;
    }
    EXPECT_GT(seen.size(), 100u);
    EXPECT_LT(agreeing, 10u);
}

TEST(Device, CountByteOptionTakesItsFourModesOnly)
{
    const auto parse = [](std::string_view Mode) {
        const std::vector<std::string_view> args = {"--count-byte", Mode};
        return SimDevice::ParseOptions(args).RecordCount;
    };
    EXPECT_EQ(SimDevice::ParseOptions(std::vector<std::string_view>{}).RecordCount, CountByte::Text);
    EXPECT_EQ(parse("text"), CountByte::Text);
    EXPECT_EQ(parse("all"), CountByte::All);
    EXPECT_EQ(parse("zero"), CountByte::Zero);
    EXPECT_EQ(parse("random"), CountByte::Random);
    EXPECT_THROW(parse("count"), std::invalid_argument);
    EXPECT_THROW(parse(""), std::invalid_argument);
}

// ---- The log ---------------------------------------------------------------

std::string Utf8(const Bytes& Record)
{
    return SimDevice::Cp1251ToUtf8(Record);
}

// "dd.mm.yyyy hh:mm:ss" as "yyyymmddhhmmss", which sorts by time.
std::string SortableTime(const std::string& Line)
{
    return Line.substr(6, 4) + Line.substr(3, 2) + Line.substr(0, 2) + Line.substr(11, 2) + Line.substr(14, 2) +
           Line.substr(17, 2);
}

TEST(Log, GeneratedLinesReadLikeAUserActionsLog)
{
    const auto records = GenerateLog(500, 42, std::nullopt);
    ASSERT_EQ(records.size(), 500u);
    EXPECT_EQ(records, GenerateLog(500, 42, std::nullopt));
    EXPECT_NE(records, GenerateLog(500, 43, std::nullopt));
    const std::regex shape(R"(^\d\d\.\d\d\.20\d\d \d\d:\d\d:\d\d [^:]+: .+$)");
    size_t cyrillic = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string line = Utf8(records[i]);
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        EXPECT_LE(records[i].size(), MaxRecordLength);
        EXPECT_EQ(std::count(records[i].begin(), records[i].end(), 0), 0);
        if (i > 0) {
            EXPECT_LE(SortableTime(Utf8(records[i - 1])), SortableTime(line)) << "oldest first";
        }
        cyrillic += std::any_of(records[i].begin(), records[i].end(), [](uint8_t b) { return b >= 0xC0; });
    }
    EXPECT_GT(cyrillic, 250u);
    EXPECT_LT(cyrillic, 500u); // some lines are Latin only
}

TEST(Log, LengthsSpreadOverTheRange)
{
    const LengthRange ranges[] = {{40, 120}, {250, 250}, {0, 0}, {0, 30}};
    for (const auto& range : ranges) {
        const auto records = GenerateLog(2000, 9, range);
        const auto [shortest, longest] = std::minmax_element(
            records.begin(), records.end(), [](const Bytes& a, const Bytes& b) { return a.size() < b.size(); });
        EXPECT_GE(shortest->size(), range.Min);
        EXPECT_LE(longest->size(), range.Max);
        EXPECT_LE(shortest->size(), range.Min + (range.Max - range.Min) / 10) << range.Min << "-" << range.Max;
        EXPECT_GE(longest->size(), range.Max - (range.Max - range.Min) / 10) << range.Min << "-" << range.Max;
    }
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "device_tests.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::string Path(const std::string& Name) const { return (FDir / Name).string(); }

    std::filesystem::path FDir;
};

std::vector<std::string> ReadLines(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

using RecordsFile = TempDir;

TEST_F(RecordsFile, LinesInAndDumpOutRoundTrip)
{
    const std::string longLine(300, 'x');
    {
        std::ofstream out(Path("in.txt"), std::ios::binary);
        out << "01.02.2026 10:00:00 Оператор: вход в систему\r\n"
            << "\r\n"
            << "Admin: «Настройки» — 5 °C\n"
            << longLine << "\n";
    }
    const auto records = ReadRecordsFile(Path("in.txt"), {}, 1);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3].size(), 250u);
    WriteDump(Path("dump.txt"), records);
    EXPECT_EQ(ReadLines(Path("dump.txt")),
              (std::vector<std::string>{"01.02.2026 10:00:00 Оператор: вход в систему", "", "Admin: «Настройки» — 5 °C",
                                        longLine.substr(0, 250)}));

    const auto padded = ReadRecordsFile(Path("in.txt"), {20, 30}, 1);
    for (const auto& r : padded) EXPECT_TRUE(r.size() >= 20 && r.size() <= 30) << r.size();
    EXPECT_EQ(Utf8(padded[2]).rfind("Admin: «Настройки» — 5 °C", 0), 0u) << "lengthened at the end";

    EXPECT_THROW(ReadRecordsFile(Path("missing.txt"), {}, 1), std::runtime_error);
}

// ---- Faults and timing -----------------------------------------------------

// One letter per record answer: D dropped, C corrupted, L late, U unplug
// after it, . untouched.
std::string Pattern(const FaultPlan& Plan, int Answers)
{
    FaultSchedule schedule(Plan);
    std::string pattern;
    for (int i = 0; i < Answers; ++i) {
        const FaultDecision d = schedule.NextRecordAnswer();
        std::string letters =
            std::string(d.Drop ? "D" : "") + (d.Corrupt ? "C" : "") + (d.Late ? "L" : "") + (d.Unplug ? "U" : "");
        pattern += (letters.empty() ? "." : letters) + " ";
    }
    return pattern;
}

TEST(Faults, ScheduleCountsRecordAnswersFromTheFirst)
{
    const struct {
        FaultPlan Plan;
        int Answers;
        std::string Expected;
    } cases[] = {
        {{}, 3, ". . . "},
        {{.DropEvery = 3}, 6, ". . D . . D "},
        {{.DropEvery = 1}, 2, "D D "},
        {{.DropEvery = 2, .CorruptEvery = 3}, 6, ". D C D . D "},
        {{.CorruptEvery = 2, .LateEvery = 4, .Late = 100ms}, 8, ". C . CL . C . CL "},
        {{.DropEvery = 2, .UnplugAfter = 2}, 3, ". DU . "},
    };
    for (const auto& c : cases) EXPECT_EQ(Pattern(c.Plan, c.Answers), c.Expected);
}

TEST(Faults, CorruptionChangesOneByteAndBreaksTheChecksum)
{
    for (const Bytes& good :
         {WithChecksum({0x01, 0xC1, 0x02}), *TestDevice().Respond(Of(Frames::RecordRequest(1, 7))).Answer}) {
        Bytes bad = good;
        Corrupt(bad);
        ASSERT_EQ(bad.size(), good.size());
        EXPECT_EQ(std::inner_product(bad.begin(), bad.end(), good.begin(), 0, std::plus<>(), std::not_equal_to<>()), 1);
        EXPECT_FALSE(ChecksumHolds(bad));
    }
}

TEST(Timing, PacedBytesAreDueAtTheirLineTimeAndTheSecondHalfAfterTheGap)
{
    const TimePoint start{};
    const nanoseconds byte = LineTime(1, 9600);
    EXPECT_EQ(byte.count(), 1'041'666);
    Transmission t(Bytes(10, 0x55), start, 9600, 30ms);
    EXPECT_TRUE(t.DueBy(start + byte - 1ns).empty());
    EXPECT_EQ(t.DueBy(start + byte).size(), 1u);
    EXPECT_EQ(t.DueBy(start + LineTime(10, 9600)).size(), 5u) << "the first half, then the gap";
    t.MarkSent(5);
    EXPECT_EQ(t.NextDue(), start + LineTime(6, 9600) + 30ms);
    EXPECT_EQ(t.DueBy(t.End()).size(), 5u);
    EXPECT_EQ(t.End(), start + LineTime(10, 9600) + 30ms);
}

TEST(Timing, ALateAnswerHoldsBackTheAnswersBehindIt)
{
    const TimePoint t0{};
    Outbox box;
    box.Add({{1, 1}, t0 + 300ms});
    box.Add({{2, 2}, t0 + 1ms});
    EXPECT_TRUE(box.TakeDue(t0 + 10ms).Data.empty());
    EXPECT_EQ(box.NextDeadline(), t0 + 300ms);
    EXPECT_EQ(box.TakeDue(t0 + 300ms).Data, (Bytes{1, 1, 2, 2}));
    EXPECT_TRUE(box.Empty());

    // Paced, the next answer starts only when the previous one is all out.
    const TimePoint t1 = t0 + 1s;
    box.Add({{3, 3}, t1, 10'000});
    box.Add({{4}, t1, 10'000, 0ns, true});
    EXPECT_EQ(box.TakeDue(t1 + 2ms).Data, (Bytes{3, 3}));
    EXPECT_EQ(box.NextDeadline(), t1 + 3ms);
    const auto last = box.TakeDue(t1 + 3ms);
    EXPECT_EQ(last.Data, (Bytes{4}));
    EXPECT_TRUE(last.Unplug);
}

// ---- The program -----------------------------------------------------------

constexpr auto HangLimit = 10s;

// The device program, stopped with SIGTERM when the test ends.
class DeviceProcess {
public:
    explicit DeviceProcess(std::vector<std::string> Args)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        Args.insert(Args.begin(), SIMDEVICE_PATH);
        std::vector<char*> argv;
        for (auto& a : Args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int error = ::posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        FOut = out[0];
        if (error != 0) throw std::runtime_error("cannot start the device");
    }
    ~DeviceProcess()
    {
        if (FPid > 0) Stop();
        ::close(FOut);
    }

    // The next line the device prints; empty if none comes.
    std::string NextLine()
    {
        std::string line;
        char c = 0;
        pollfd p{FOut, POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(HangLimit).count())) == 1 &&
               ::read(FOut, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    // SIGTERM, then the exit status.
    int Stop()
    {
        ::kill(FPid, SIGTERM);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
};

// The master's end of the line, opened the way a serial port is.
class Line {
public:
    explicit Line(const std::string& Path, speed_t Speed = B19200) : FFd(::open(Path.c_str(), O_RDWR | O_NOCTTY))
    {
        if (FFd < 0) throw std::runtime_error("cannot open " + Path);
        termios t{};
        ::tcgetattr(FFd, &t);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, Speed);
        ::tcsetattr(FFd, TCSANOW, &t);
    }
    ~Line() { ::close(FFd); }

    template <size_t N>
    void Send(const std::array<uint8_t, N>& Request)
    {
        ASSERT_EQ(::write(FFd, Request.data(), N), static_cast<ssize_t>(N));
    }

    // One answer, its length taken from its own bytes. Reads counts the
    // pieces it came in. Empty when the line goes or nothing comes in time.
    Bytes ReadAnswer(int* Reads = nullptr)
    {
        Bytes answer;
        int reads = 0;
        while (answer.size() < Expected(answer)) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(HangLimit).count())) != 1) return {};
            std::array<uint8_t, 300> buffer{};
            const ssize_t n = ::read(FFd, buffer.data(), Expected(answer) - answer.size());
            if (n <= 0) return {};
            answer.insert(answer.end(), buffer.begin(), buffer.begin() + n);
            ++reads;
        }
        if (Reads) *Reads = reads;
        return answer;
    }

    // Whether the other end went away (within the hang limit).
    bool Gone()
    {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(HangLimit).count())) != 1) return false;
        std::array<uint8_t, 300> buffer{};
        return (p.revents & POLLHUP) != 0 || ::read(FFd, buffer.data(), buffer.size()) <= 0;
    }

private:
    static size_t Expected(const Bytes& SoFar)
    {
        if (SoFar.size() < 3) return 3;
        return (SoFar[1] & 0x80) ? 5 : 5 + SoFar[2];
    }

    int FFd;
};

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

using Program = TempDir;

TEST_F(Program, AnswersTheToolsRequestsPacedAtTheSpeedItSet)
{
    DeviceProcess device({"--address", "7", "--version", "V9.99", "--serial", "-5", "--records", "20", "--pace",
                          "--dump", Path("dump.txt"), "--log", Path("log.txt"), "--answer-times",
                          Path("times.txt")});
    Line line(device.NextLine(), B115200);

    line.Send(Frames::IdentifyRequest(7));
    EXPECT_EQ(Frames::VersionText(line.ReadAnswer()), "V9.99");
    line.Send(Frames::SerialNumberRequest(7));
    EXPECT_EQ(Frames::SerialNumberText(line.ReadAnswer()), "-5");
    line.Send(Frames::RecordCountRequest(7));
    EXPECT_EQ(Frames::RecordCount(line.ReadAnswer()), 20);

    const auto dump = ReadLines(Path("dump.txt"));
    ASSERT_EQ(dump.size(), 20u);
    // Each answer's last byte is stamped as it is written: after the request
    // was sent, before the whole answer was read.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::chrono::steady_clock::time_point>> exchanges;
    for (int32_t i = 19; i >= 0; --i) {
        const auto sent = std::chrono::steady_clock::now();
        line.Send(Frames::RecordRequest(7, i));
        const Bytes answer = line.ReadAnswer();
        exchanges.emplace_back(sent, std::chrono::steady_clock::now());
        EXPECT_TRUE(Frames::AnswerVerifies(answer));
        EXPECT_EQ(Frames::RecordText(answer), dump[static_cast<size_t>(i)]);
    }
    line.Send(Frames::RecordRequest(7, 20));
    EXPECT_EQ(line.ReadAnswer(), WithChecksum({7, 0xC1, 0x02}));

    // Neither a damaged request nor one for another address is answered:
    // the next answer is the serial number's.
    auto damaged = Frames::IdentifyRequest(7);
    damaged[3] ^= 0xFF;
    line.Send(damaged);
    line.Send(Frames::IdentifyRequest(1));
    line.Send(Frames::SerialNumberRequest(7));
    EXPECT_EQ(Frames::SerialNumberText(line.ReadAnswer()), "-5");

    EXPECT_EQ(device.Stop(), 0);
    const auto times = ReadLines(Path("times.txt"));
    ASSERT_EQ(times.size(), 3u + 20u + 1u + 1u);
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const std::chrono::steady_clock::time_point stamp{std::chrono::nanoseconds(std::stoll(times[3 + i]))};
        EXPECT_GT(stamp, exchanges[i].first) << "answer " << i;
        EXPECT_LE(stamp, exchanges[i].second) << "answer " << i;
    }
    const std::string log = ReadFile(Path("log.txt"));
    EXPECT_NE(log.find("paced at 115200 bit/s"), std::string::npos) << log;
    EXPECT_NE(log.find("bad checksum, no answer"), std::string::npos) << log;
    EXPECT_NE(log.find("for address 1, not ours, no answer"), std::string::npos) << log;
}

TEST_F(Program, DropsCorruptsAndSplitsAnswers)
{
    DeviceProcess device({"--records", "10", "--drop-every", "2", "--corrupt-every", "3", "--split-gap-ms", "150",
                          "--dump", Path("dump.txt"), "--log", Path("log.txt")});
    Line line(device.NextLine());
    const auto dump = ReadLines(Path("dump.txt"));

    // Record answers 1..5: untouched, dropped, corrupted, dropped, untouched.
    int reads = 0;
    line.Send(Frames::RecordRequest(1, 0));
    Bytes answer = line.ReadAnswer(&reads);
    EXPECT_EQ(Frames::RecordText(answer), dump[0]);
    EXPECT_GE(reads, 2) << "split in two";

    line.Send(Frames::RecordRequest(1, 1));
    line.Send(Frames::RecordRequest(1, 2));
    answer = line.ReadAnswer();
    ASSERT_EQ(answer.size(), 5 + SimDevice::Utf8ToCp1251(dump[2]).size());
    EXPECT_FALSE(Frames::AnswerVerifies(answer)) << "answer 3 corrupted, answer 2 never came";

    line.Send(Frames::RecordRequest(1, 3));
    line.Send(Frames::RecordRequest(1, 4));
    answer = line.ReadAnswer();
    EXPECT_TRUE(Frames::AnswerVerifies(answer));
    EXPECT_EQ(Frames::RecordText(answer), dump[4]);

    // The connect handshake is never faulted.
    line.Send(Frames::IdentifyRequest(1));
    EXPECT_TRUE(Frames::AnswerVerifies(line.ReadAnswer()));
    EXPECT_EQ(device.Stop(), 0);
}

TEST_F(Program, UnplugsAndComesBackBehindItsLink)
{
    const std::string link = Path("ttyUSB0");
    DeviceProcess device(
        {"--records", "5", "--unplug-after", "2", "--replug-ms", "100", "--link", link, "--log", Path("log.txt")});
    ASSERT_EQ(device.NextLine(), link);
    {
        Line line(link);
        line.Send(Frames::RecordRequest(1, 4));
        EXPECT_TRUE(Frames::AnswerVerifies(line.ReadAnswer()));
        line.Send(Frames::RecordRequest(1, 3));
        EXPECT_TRUE(Frames::AnswerVerifies(line.ReadAnswer()));
        EXPECT_TRUE(line.Gone());
    }
    ASSERT_EQ(device.NextLine(), link) << "back";
    Line line(link);
    line.Send(Frames::IdentifyRequest(1));
    EXPECT_EQ(Frames::VersionText(line.ReadAnswer()), "V2.14");
    line.Send(Frames::RecordRequest(1, 2));
    EXPECT_TRUE(Frames::AnswerVerifies(line.ReadAnswer())) << "unplugged only once";

    EXPECT_EQ(device.Stop(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link goes with the device";
}

} // namespace

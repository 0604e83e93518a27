#include "FuzzTargets.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "FakeConnectionControls.h"
#include "FakeExchange.h"
#include "protocol/ExchangeController.h"
#include "protocol/Frames.h"
#include "runtime/CodePage.h"
#include "runtime/Exceptions.h"
#include "ui/ConnectionSettings.h"

namespace {

// Takes bytes off the front of the input.
class TInput {
public:
    TInput(const uint8_t* Data, size_t Size) : FData(Data, Size) {}
    bool Empty() const { return FPos >= FData.size(); }
    uint8_t Byte() { return Empty() ? 0 : FData[FPos++]; }
    std::vector<uint8_t> Bytes(size_t Count)
    {
        const size_t n = std::min(Count, FData.size() - FPos);
        std::vector<uint8_t> out(FData.begin() + static_cast<ptrdiff_t>(FPos),
                                 FData.begin() + static_cast<ptrdiff_t>(FPos + n));
        FPos += n;
        return out;
    }

private:
    std::span<const uint8_t> FData;
    size_t FPos = 0;
};

void Check(bool Holds, const char* What)
{
    if (!Holds) {
        std::fprintf(stderr, "broken: %s\n", What);
        std::abort();
    }
}

// The text bytes of an answer, worked out here from the frame layout:
// positions 3 up to Last, never the checksum, cut at the first zero.
std::vector<uint8_t> TextBytes(std::span<const uint8_t> Answer, size_t Last)
{
    std::vector<uint8_t> text;
    for (size_t at = 3; at + 2 < Answer.size() && at <= Last && Answer[at] != 0; ++at) text.push_back(Answer[at]);
    return text;
}

void DecodeEverything(std::span<const uint8_t> Answer)
{
    Frames::AnswerKind(Answer);
    Frames::AnswerVerifies(Answer);
    Frames::FixedAnswerLength(Answer);

    // One character per byte: the version text as the same code points,
    // the record text through Windows-1251 and back to the same bytes.
    const auto version = TextBytes(Answer, 21);
    const std::u32string versionChars = DecodeUtf8(Frames::VersionText(Answer));
    Check(versionChars == std::u32string(version.begin(), version.end()), "version text is its bytes");
    const auto record = TextBytes(Answer, Answer.size());
    const std::string recordText = Frames::RecordText(Answer);
    Check(DecodeUtf8(recordText).size() == record.size(), "one character per record text byte");
    Check(Utf8ToCp1251(recordText) == record, "record text goes back to its bytes");

    const auto at = [&](size_t Position) -> uint32_t { return Position + 2 < Answer.size() ? Answer[Position] : 0; };
    Check(Frames::RecordCount(Answer) == static_cast<int32_t>(at(3) << 8 | at(4)), "record count is bytes 3 and 4");
    const auto serial = static_cast<int32_t>(at(3) << 24 | at(4) << 16 | at(5) << 8 | at(6));
    Check(Frames::SerialNumberText(Answer) == std::to_string(serial), "serial number is bytes 3 to 6");
}

// Sometimes a well-formed answer, so the fuzzer reaches the download paths;
// either kind up to the longest answer the tool takes, 255 bytes.
std::vector<uint8_t> Answer(TInput& In)
{
    const uint8_t kind = In.Byte();
    if (kind < 0xC0) return In.Bytes(kind % 4 == 0 ? In.Byte() : kind % 64);
    std::vector<uint8_t> body = {1};
    switch (kind % 5) {
    case 0: body.push_back(0x11); break;
    case 1: body.push_back(0x03); break;
    case 2: body.push_back(0x04); break;
    case 3: body.push_back(0x41); break;
    default: body.push_back(0xC1); break;
    }
    const uint8_t length = In.Byte();
    const auto rest = In.Bytes(length >= 0x80 ? length % 251 : length % 32);
    body.push_back(static_cast<uint8_t>(rest.size()));
    body.insert(body.end(), rest.begin(), rest.end());
    return Framed(body);
}

} // namespace

void FuzzAnswers(const uint8_t* Data, size_t Size)
{
    TInput in(Data, Size);
    TFakePort port;
    TFakeWindow window;
    window.Selected[TDropDown::Speed] = in.Byte() % 2 ? "1200" : "115200";
    TExchangeController c(port, window);
    // The range typed at the last Start, when it was an ordinary one.
    std::optional<int32_t> startIndex;

    // Checked as they happen, against the controller's own state: Stop is
    // enabled exactly while a download runs.
    port.OnWrite = [&](const Bytes& Frame) {
        if (Frame.size() != 11 || Frame[1] != Frames::fnReadRecord) return;
        Check(window.Enabled(TWindowControl::Stop), "record requests only while a download runs");
        const int32_t index = Frame[7] << 8 | Frame[8];
        if (startIndex) Check(index > c.LowerBound && index <= *startIndex + 1, "record requests within the range");
    };
    window.OnProgressPosition = [&](int32_t Asked) {
        Check(Asked == 0 || Asked == window.Max || Asked == window.Position + 1,
              "progress starts at 0, steps by one or fills the bar");
    };

    const auto guarded = [](auto Step) {
        try {
            Step();
        } catch (const Exception&) {
            // Errors the operator would see in a message box.
        }
    };
    guarded([&] { c.ConnectClick(); });
    while (!in.Empty()) {
        const int32_t rowsBefore = window.Rows;
        switch (in.Byte() % 9) {
        case 0: case 1: case 2: {
            const auto bytes = Answer(in);
            DecodeEverything(bytes);
            port.Arrive(bytes);
            guarded([&] { c.ComPort1RxChar(static_cast<int32_t>(port.Input.size())); });
            break;
        }
        case 3: guarded([&] { c.SilenceTimerTimer(); }); break;
        case 4: guarded([&] { c.AnswerTimerTimer(); }); break;
        case 5: {
            // Mostly an ordinary range; sometimes texts at the edges of the
            // numbers or no number at all.
            static const char* const edges[] = {"-1", "0", "2147483647", "-2147483648", "65536", "ten", ""};
            const uint8_t how = in.Byte();
            const int32_t index = in.Byte();
            const int32_t count = in.Byte() % 16;
            window.Edits[TEditBox::Index] = how & 1 ? edges[index % std::size(edges)] : std::to_string(index);
            window.Edits[TEditBox::Count] = how & 2 ? edges[count % std::size(edges)] : std::to_string(count);
            // A Start that fails on its texts leaves the range it had.
            if ((how & 3) == 0)
                startIndex = index;
            else
                startIndex.reset();
            guarded([&] { c.StartClick(); });
            break;
        }
        case 6: guarded([&] { c.StopClick(); }); break;
        case 7: guarded([&] { c.DisconnectClick(); }); break;
        default: guarded([&] { c.Timer1Timer(); }); guarded([&] { c.ConnectClick(); }); break;
        }
        // Every row below the header and the empty row answers one record
        // request the controller counted since Start; a row is added at
        // most per answer read.
        Check(window.Rows >= 2 && window.Rows <= c.RowCounter + 2, "rows follow the requests counted");
        Check(window.Rows == 2 || window.Rows >= rowsBefore, "rows are only cleared by Start");
    }
}

namespace {

// One working directory for the whole run, with an empty port list.
const std::filesystem::path& WorkDir()
{
    static const std::filesystem::path dir = [] {
        char pattern[] = "/tmp/actionlog-fuzz-XXXXXX";
        const std::filesystem::path made = ::mkdtemp(pattern);
        std::filesystem::create_directories(made / "sys/class/tty");
        return made;
    }();
    return dir;
}

} // namespace

// The program's own start-up picks the locale's encoding for its text files;
// the fuzzer runs the settings file under the UTF-8 one, as a system without
// a configured locale gets it.
void FuzzSettingsFile(const uint8_t* Data, size_t Size)
{
    const std::string previousLocale = std::setlocale(LC_CTYPE, nullptr);
    Check(std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr, "the C.UTF-8 locale is there");
    const auto& dir = WorkDir();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    {
        std::ofstream(dir / "Settings.txt", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    }
    try {
        // Start-up, Connect (which writes the file), and the next start-up.
        FakeControls first;
        ReadConnectionSettings(first, dir / "sys", dir / "dev");
        Check(first.ComIndex >= -1 && first.ComIndex < static_cast<int32_t>(first.Com.size()),
              "port selection within the list");
        Check(first.SpeedIndex >= 0 && first.SpeedIndex < 8, "a speed is selected");
        Check(!first.Adder.empty(), "an address is set");
        WriteConnectionSettings(first);
        FakeControls second;
        ReadConnectionSettings(second, dir / "sys", dir / "dev");
        Check(second.Shown() == first.Shown(), "the settings read back as they were written");
        WriteConnectionSettings(second);
        FakeControls third;
        ReadConnectionSettings(third, dir / "sys", dir / "dev");
        Check(third.Shown() == second.Shown(), "a rewritten file keeps its settings");
    } catch (const EInOutError&) {
    }
    std::filesystem::current_path(previous);
    std::setlocale(LC_CTYPE, previousLocale.c_str());
}

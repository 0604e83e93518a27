#include "FuzzTargets.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "FakeConnectionControls.h"
#include "FakeExchange.h"
#include "protocol/ExchangeController.h"
#include "protocol/Frames.h"
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

void DecodeEverything(std::span<const uint8_t> Answer)
{
    Frames::AnswerKind(Answer);
    Frames::AnswerVerifies(Answer);
    Frames::FixedAnswerLength(Answer);
    Frames::VersionText(Answer);
    Frames::SerialNumberText(Answer);
    const int32_t count = Frames::RecordCount(Answer);
    Check(count >= 0 && count <= 65535, "record count in range");
    Check(Frames::RecordText(Answer).size() <= 250 * 3, "record text length");
}

// Sometimes a well-formed answer, so the fuzzer reaches the download paths.
std::vector<uint8_t> Answer(TInput& In)
{
    const uint8_t kind = In.Byte();
    if (kind < 0xC0) return In.Bytes(kind % 64);
    std::vector<uint8_t> body = {1};
    switch (kind % 5) {
    case 0: body.push_back(0x11); break;
    case 1: body.push_back(0x03); break;
    case 2: body.push_back(0x04); break;
    case 3: body.push_back(0x41); break;
    default: body.push_back(0xC1); break;
    }
    const auto rest = In.Bytes(In.Byte() % 32);
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
    size_t requestsSent = 0;
    const auto guarded = [](auto Step) {
        try {
            Step();
        } catch (const Exception&) {
            // Errors the operator would see in a message box.
        }
    };
    guarded([&] { c.ConnectClick(); });
    while (!in.Empty()) {
        switch (in.Byte() % 8) {
        case 0: case 1: case 2: {
            const auto bytes = Answer(in);
            DecodeEverything(bytes);
            port.Arrive(bytes);
            guarded([&] { c.ComPort1RxChar(static_cast<int32_t>(port.Input.size())); });
            break;
        }
        case 3: guarded([&] { c.SilenceTimerTimer(); }); break;
        case 4: guarded([&] { c.AnswerTimerTimer(); }); break;
        case 5:
            window.Edits[TEditBox::Index] = std::to_string(in.Byte());
            window.Edits[TEditBox::Count] = std::to_string(in.Byte() % 16);
            guarded([&] { c.StartClick(); });
            break;
        case 6: guarded([&] { c.StopClick(); }); break;
        default: guarded([&] { c.Timer1Timer(); }); guarded([&] { c.ConnectClick(); }); break;
        }
        requestsSent = port.Written.size();
        // The grid never grows past one row per request sent, plus the
        // header and the empty row.
        Check(window.Rows <= static_cast<int32_t>(requestsSent) + 2, "rows follow requests");
        Check(window.Position >= 0 && window.Position <= window.Max, "progress within range");
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

void FuzzSettingsFile(const uint8_t* Data, size_t Size)
{
    const auto& dir = WorkDir();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    {
        std::ofstream(dir / "Settings.txt", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    }
    FakeControls controls;
    try {
        ReadConnectionSettings(controls, dir / "sys", dir / "dev");
        Check(controls.ComIndex >= -1 && controls.ComIndex < static_cast<int32_t>(controls.Com.size()),
              "port selection within the list");
        Check(controls.SpeedIndex >= 0 && controls.SpeedIndex < 8, "a speed is selected");
        Check(!controls.Adder.empty(), "an address is set");
        WriteConnectionSettings(controls);
    } catch (const EInOutError&) {
    }
    std::filesystem::current_path(previous);
}

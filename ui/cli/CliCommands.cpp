#include "ui/cli/CliCommands.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "protocol/ExchangeController.h"
#include "protocol/Frames.h"
#include "runtime/Convert.h"
#include "serial/ComPort.h"
#include "serial/ComText.h"
#include "serial/ListComPorts.h"
#include "ui/LogExport.h"
#include "ui/cli/CliEventLoop.h"
#include "ui/cli/CliPlatform.h"
#include "ui/cli/CliPort.h"
#include "ui/cli/CliProgress.h"
#include "ui/cli/CliTrace.h"
#include "ui/cli/CliWindow.h"

namespace fs = std::filesystem;

namespace {

void Say(const std::string& Text)
{
    std::fprintf(stderr, "actionlog: %s\n", Text.c_str());
}

// The window's rule for its error boxes: a full stop after a message that
// ends in a letter or digit.
std::string WithFullStop(const std::string& Message)
{
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + '.';
    return Message;
}

// How long the serial number and record count may take after the identify
// answer, which the watchdog covers; the controller itself waits forever.
constexpr std::chrono::milliseconds HandshakeTimeout{2500};

enum class TOutcome : uint8_t { oDone, oNoAnswer, oPortFailed, oInterrupted };

// The controller with everything it reaches: the port component, the port
// operations (traced on request), the window operations in memory and the
// main loop that runs the timers and the port's hand-overs.
class TSession {
public:
    explicit TSession(bool Trace)
    {
        ConfigureComPort(ComPort1);
        IExchangePort* port = &FPortExchange;
        if (Trace) {
            FTrace.emplace(stderr);
            FTraced.emplace(FPortExchange, *FTrace);
            port = &*FTraced;
        }
        Controller.emplace(*port, Window);
        Controller->OnTrace = [this](TExchangeController::TTraceNote Note, std::span<const uint8_t> Bytes) {
            if (FTrace) FTrace->Note(Note, Bytes);
            if (Note == TExchangeController::TTraceNote::tnAnswer && Bytes.size() >= 2 &&
                Frames::AnswerKind(Bytes) == Frames::TAnswerKind::akIdentify)
                IdentifiedAddress = Bytes[0];
        };
        Window.OnTimer1 = [this] { Controller->Timer1Timer(); };
        Window.OnSilenceTimer = [this] { Controller->SilenceTimerTimer(); };
        Window.OnAnswerTimer = [this] { Controller->AnswerTimerTimer(); };
        Window.OnEditTextSet = [this](TEditBox Box) {
            if (!FInHandshake) return;
            if (Box == TEditBox::Version || Box == TEditBox::Serial) Loop.StartTimer(FHandshakeTimer, HandshakeTimeout);
            if (Box == TEditBox::Count) {
                Loop.StopTimer(FHandshakeTimer);
                FHandshakeDone = true;
            }
        };
        FHandshakeTimer = Loop.AddTimer([this] { FHandshakeTimedOut = true; });
        ComPort1.OnRxChar = [this](TObject&, int32_t Count) { Controller->ComPort1RxChar(Count); };
        Loop.OnSignal = [this](int) {
            ++Signals;
            if (Signals == 1 && Window.ControlEnabled(TWindowControl::Stop)) Controller->StopClick();
        };
        Loop.OnError = [this](const std::exception& E) { FLoopErrors.push_back(E.what()); };
    }

    ~TSession()
    {
        ComPort1.OnRxChar = nullptr;
        try {
            ComPort1.Close();
        } catch (const std::exception& e) {
            Say(WithFullStop(e.what()));
        }
    }

    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // Connect and wait for the identify, serial-number and record-count
    // answers. The scan asks for the identify answer to come from Address:
    // one from another is a late answer of a device asked before, and
    // counts as none.
    TOutcome Connect(const std::string& Port, const std::string& Speed, int32_t Address, bool AddressMustMatch = false)
    {
        Window.Select(TDropDown::Com, Port);
        Window.Select(TDropDown::Speed, Speed);
        Window.SetEditText(TEditBox::Adder, IntToStr(Address));
        for (TEditBox box : {TEditBox::Version, TEditBox::Serial, TEditBox::Index, TEditBox::Count})
            Window.SetEditText(box, "");
        IdentifiedAddress.reset();
        FHandshakeDone = false;
        FHandshakeTimedOut = false;
        FInHandshake = true;
        FAddressMustMatch = AddressMustMatch;
        FAddress = static_cast<uint8_t>(Address);
        const auto outcome = RunHandshake();
        FInHandshake = false;
        Loop.StopTimer(FHandshakeTimer);
        return outcome;
    }

    void Disconnect()
    {
        try {
            Controller->DisconnectClick();
        } catch (const std::exception& e) {
            FLoopErrors.push_back(e.what());
        }
        Window.TakeMessages(); // a watchdog that fired meanwhile says nothing new
    }

    // Start and wait until the download ends; on the first signal it ends as
    // Stop does, and the answer already on its way may still come until the
    // controller stops waiting for it or a second signal comes.
    TOutcome Download(int32_t Index, int32_t Count, TCliProgress* Progress)
    {
        Window.SetEditText(TEditBox::Index, IntToStr(Index));
        Window.SetEditText(TEditBox::Count, IntToStr(Count));
        try {
            Controller->StartClick();
        } catch (const std::exception& e) {
            FLoopErrors.push_back(e.what());
            return TOutcome::oPortFailed;
        }
        // Told of every record as it lands, so no 5 % step is passed over
        // when several records come in one turn of the loop.
        if (Progress) Window.OnRowCountSet = [&] { Progress->Update(Window.RecordRows()); };
        Loop.RunUntil([&] { return Window.ControlEnabled(TWindowControl::Start); });
        if (Signals > 0)
            Loop.RunUntil([&] {
                return !Window.ExchangeTimerActive(TExchangeTimer::etAnswer) || Signals > 1 || Failed();
            });
        Window.OnRowCountSet = nullptr;
        if (Failed()) return TOutcome::oPortFailed;
        if (Signals > 0) return TOutcome::oInterrupted;
        if (Window.HasMessages()) return TOutcome::oNoAnswer;
        return TOutcome::oDone;
    }

    bool Failed() const { return !FLoopErrors.empty() || Window.HasErrors(); }

    // Every failure of the line so far, as the window would show it.
    void SayFailures()
    {
        for (const std::string& error : Window.TakeErrors()) FLoopErrors.push_back(error);
        for (const std::string& error : FLoopErrors) Say(WithFullStop(error));
        FLoopErrors.clear();
    }

    TCliEventLoop Loop;
    TComPort ComPort1{nullptr};
    TCliWindow Window{Loop};
    std::optional<TExchangeController> Controller;
    int Signals = 0;
    // The address byte of the identify answer since Connect.
    std::optional<uint8_t> IdentifiedAddress;

private:
    TOutcome RunHandshake()
    {
        try {
            Controller->ConnectClick();
        } catch (const std::exception& e) {
            FLoopErrors.push_back(e.what());
            return TOutcome::oPortFailed;
        }
        Loop.RunUntil([&] {
            return FHandshakeDone || FHandshakeTimedOut || Window.HasMessages() || Failed() || Signals > 0 ||
                   StrayAnswer();
        });
        if (Failed()) return TOutcome::oPortFailed;
        if (Signals > 0) return TOutcome::oInterrupted;
        if (!FHandshakeDone || StrayAnswer()) return TOutcome::oNoAnswer;
        return TOutcome::oDone;
    }

    bool StrayAnswer() const { return FAddressMustMatch && IdentifiedAddress && *IdentifiedAddress != FAddress; }

    TComPortExchange FPortExchange{ComPort1};
    std::optional<TCliTrace> FTrace;
    std::optional<TTracedExchange> FTraced;
    TCliEventLoop::TTimerId FHandshakeTimer = 0;
    bool FInHandshake = false;
    bool FHandshakeDone = false;
    bool FHandshakeTimedOut = false;
    bool FAddressMustMatch = false;
    uint8_t FAddress = 0;
    std::vector<std::string> FLoopErrors;
};

int StatusOf(TOutcome Outcome)
{
    switch (Outcome) {
    case TOutcome::oDone: return esDone;
    case TOutcome::oNoAnswer: return esNoAnswer;
    case TOutcome::oPortFailed: return esPortFailed;
    case TOutcome::oInterrupted: return esInterrupted;
    }
    return esPortFailed;
}

// Writes under a temporary name beside the file and renames it when whole,
// so a failure leaves neither a partial file nor a damaged earlier one.
bool SaveWhole(const ILogSource& Source, const fs::path& File)
{
    fs::path part = File;
    part += ".part";
    try {
        SaveLog(Source, part);
        fs::rename(part, File);
        return true;
    } catch (const fs::filesystem_error& e) {
        Say("cannot save " + File.string() + ": " + e.code().message());
    } catch (const std::exception& e) {
        Say("cannot save " + File.string() + ": " + WithFullStop(e.what()));
    }
    std::error_code ignored;
    fs::remove(part, ignored);
    return false;
}

int RunPorts()
{
    std::vector<std::string> ports;
    ListComPorts(ports);
    for (const std::string& port : ports) std::printf("%s\n", port.c_str());
    return esDone;
}

int RunDownload(const TCliOptions& Options)
{
    if (Options.Output) {
        const fs::path folder = fs::absolute(*Options.Output).parent_path();
        std::error_code error;
        if (!fs::is_directory(folder, error)) {
            Say("--output: the folder " + folder.string() + " does not exist");
            return esUsage;
        }
    }

    TSession session(Options.Trace);
    const auto connected = session.Connect(Options.Port, Options.Speeds.front(), Options.Address);
    if (connected != TOutcome::oDone) {
        session.SayFailures();
        if (connected == TOutcome::oNoAnswer) Say(TExchangeController::DeviceNotAnsweringMessage);
        if (connected == TOutcome::oInterrupted) Say("interrupted");
        session.Disconnect();
        return StatusOf(connected);
    }

    const int32_t records = StrToInt(session.Window.EditText(TEditBox::Count));
    const int32_t index = Options.Index.value_or(records - 1);
    if (Options.Index && index >= records) {
        Say("--index " + IntToStr(index) + ": the device holds " + IntToStr(records) + " records, 0 to " +
            IntToStr(records - 1));
        session.Disconnect();
        return esUsage;
    }
    // Records below index 0 do not exist: the download ends at 0.
    const int32_t count = Options.Count.value_or(index + 1);
    const int32_t fetched = std::min(count, index + 1);
    const std::string device = "device " + Printable(session.Window.VersionText()) + ", serial number " +
                               session.Window.SerialText() + ", " + IntToStr(records) + " records";
    if (fetched > 0)
        Say(device + "; fetching " + IntToStr(fetched) + " from index " + IntToStr(index) + " down");
    else
        Say(device + "; nothing to fetch");

    std::optional<TCliProgress> progress;
    if (!Options.Trace) progress.emplace(stderr, CliPlatform::StderrIsTerminal(), std::max(fetched, 0));
    const TOutcome outcome = session.Download(index, count, progress ? &*progress : nullptr);
    if (progress) progress->Finish();
    session.Disconnect();

    session.SayFailures();
    if (outcome == TOutcome::oNoAnswer) Say(TExchangeController::DeviceNotAnsweringMessage);
    if (outcome == TOutcome::oInterrupted) Say("interrupted");

    const fs::path file = Options.Output ? fs::path(*Options.Output) : LogFilePath(session.Window.SerialText());
    if (!SaveWhole(session.Window, file)) return outcome == TOutcome::oDone ? esSaveFailed : StatusOf(outcome);
    const int32_t saved = session.Window.RecordRows();
    Say("saved " + IntToStr(saved) + (saved == 1 ? " record to " : " records to ") + file.string());
    return StatusOf(outcome);
}

int RunScan(const TCliOptions& Options)
{
    TSession session(Options.Trace);
    const bool terminal = CliPlatform::StderrIsTerminal() && !Options.Trace;
    int found = 0;
    for (const std::string& speed : Options.Speeds) {
        const int32_t bits = BaudRateToBits(TextToBaudRate(speed), 9600);
        // The request and an answer of 40 characters on the line, and time to spare.
        const auto timeout = Options.Timeout.value_or(std::chrono::milliseconds(100 + (40 * 10 * 1000 + bits - 1) / bits));
        session.Window.SetTimer1Interval(timeout);
        for (int32_t address : Options.Addresses) {
            if (terminal) {
                std::fprintf(stderr, "\rscanning %s bit/s, address %d\x1b[K", speed.c_str(), address);
                std::fflush(stderr);
            }
            const TOutcome outcome = session.Connect(Options.Port, speed, address, /*AddressMustMatch=*/true);
            if (session.IdentifiedAddress && *session.IdentifiedAddress == address &&
                outcome != TOutcome::oPortFailed) {
                if (terminal) std::fprintf(stderr, "\r\x1b[K");
                const auto field = [](const std::string& Text) { return Text.empty() ? std::string("-") : Text; };
                std::printf("%d\t%s\t%s\t%s\t%s\n", address, speed.c_str(),
                            field(Printable(session.Window.VersionText())).c_str(),
                            field(session.Window.SerialText()).c_str(),
                            field(session.Window.EditText(TEditBox::Count)).c_str());
                std::fflush(stdout);
                ++found;
            }
            session.Disconnect();
            if (outcome == TOutcome::oPortFailed || session.Failed() || outcome == TOutcome::oInterrupted) {
                if (terminal) std::fprintf(stderr, "\r\x1b[K");
                session.SayFailures();
                if (outcome == TOutcome::oInterrupted) Say("interrupted");
                return outcome == TOutcome::oInterrupted ? esInterrupted : esPortFailed;
            }
        }
    }
    if (terminal) std::fprintf(stderr, "\r\x1b[K");
    if (found == 0) {
        Say("no device answered");
        return esNoAnswer;
    }
    return esDone;
}

} // namespace

int RunCommand(const TCliOptions& Options)
{
    switch (Options.Command) {
    case TCliCommand::ccHelp: std::fputs(HelpText().c_str(), stdout); return esDone;
    case TCliCommand::ccVersion: std::fputs(VersionText().c_str(), stdout); return esDone;
    case TCliCommand::ccPorts: return RunPorts();
    case TCliCommand::ccDownload: return RunDownload(Options);
    case TCliCommand::ccScan: return RunScan(Options);
    }
    return esUsage;
}

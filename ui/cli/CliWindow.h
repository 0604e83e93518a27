#pragma once
// The window operations of the exchange controller, held in memory for the
// command line: the controls' states and texts, the grid, the progress bar,
// and the three timers, run by the command line's main loop. Message boxes
// become notes the command reads once the event is done.

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "protocol/ExchangeOperations.h"
#include "ui/LogExport.h"
#include "ui/cli/CliEventLoop.h"

class TCliWindow : public IExchangeWindow, public ILogSource {
public:
    // The window's watchdog interval.
    static constexpr std::chrono::milliseconds DefaultTimer1Interval{2500};

    // The state of the window after its start-up: Connect and Start
    // enabled, the grid's header and one empty row.
    explicit TCliWindow(TCliEventLoop& Loop);

    // What the controller's timers run; set by the owner of the controller.
    std::function<void()> OnTimer1;
    std::function<void()> OnSilenceTimer;
    std::function<void()> OnAnswerTimer;
    // Called after an edit box's text was set by the controller.
    std::function<void(TEditBox Box)> OnEditTextSet;
    // Called after the controller set the grid's row count: once per record,
    // however many records one turn of the main loop brings.
    std::function<void()> OnRowCountSet;

    // The scan watches for a shorter time than the window does.
    void SetTimer1Interval(std::chrono::milliseconds Interval) { FTimer1Interval = Interval; }
    void Select(TDropDown List, const std::string& Text);
    bool ControlEnabled(TWindowControl Control) const;
    bool Timer1Enabled() const;
    bool ExchangeTimerActive(TExchangeTimer Timer) const;

    // The texts of ShowMessage and PostError since they were last taken.
    std::vector<std::string> TakeMessages();
    std::vector<std::string> TakeErrors();
    bool HasMessages() const { return !FMessages.empty(); }
    bool HasErrors() const { return !FErrors.empty(); }
    // The grid rows filled with records since Start.
    int32_t RecordRows() const { return RowCount() - 2; }

    // IExchangeWindow
    void SetControlEnabled(TWindowControl Control, bool Enabled) override;
    std::string EditText(TEditBox Box) const override;
    void SetEditText(TEditBox Box, const std::string& Text) override;
    std::string SelectedText(TDropDown List) const override;
    void SetCell(int32_t Col, int32_t Row, const std::string& Text) override;
    int32_t RowCount() const override { return FRowCount; }
    void SetRowCount(int32_t Rows) override;
    int32_t ColCount() const override { return Columns; }
    int32_t ProgressMax() const override { return FProgressMax; }
    void SetProgressMax(int32_t Max) override;
    int32_t ProgressPosition() const override { return FProgressPosition; }
    void SetProgressPosition(int32_t Position) override;
    void SetTimer1Enabled(bool Enabled) override;
    void StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval) override;
    void StopTimer(TExchangeTimer Timer) override;
    void ShowMessage(const std::string& Text) override;
    void PostError(const std::string& Message) override;
    // Settings.txt belongs to the window; the command line leaves it alone.
    void WriteConnectionSettings() override {}

    // ILogSource
    std::string VersionText() const override { return EditText(TEditBox::Version); }
    std::string SerialText() const override { return EditText(TEditBox::Serial); }
    std::string Cell(int32_t Col, int32_t Row) const override;

private:
    static constexpr int32_t Columns = 2;
    TCliEventLoop::TTimerId ExchangeTimer(TExchangeTimer Timer) const;

    TCliEventLoop& FLoop;
    TCliEventLoop::TTimerId FTimer1;
    TCliEventLoop::TTimerId FSilenceTimer;
    TCliEventLoop::TTimerId FAnswerTimer;
    std::chrono::milliseconds FTimer1Interval = DefaultTimer1Interval;

    std::array<bool, 5> FEnabled{};
    std::array<std::string, 5> FEditTexts;
    std::array<std::string, 2> FSelected;
    // Cell texts by row, kept apart from the row count.
    std::vector<std::array<std::string, Columns>> FCells;
    int32_t FRowCount = 2;
    int32_t FProgressMax = 100;
    int32_t FProgressPosition = 0;
    std::vector<std::string> FMessages;
    std::vector<std::string> FErrors;
};

#include "ui/cli/CliWindow.h"

#include <algorithm>
#include <utility>

#include "runtime/Exceptions.h"

namespace {

template <typename E>
size_t At(E Value)
{
    return static_cast<size_t>(Value);
}

} // namespace

TCliWindow::TCliWindow(TCliEventLoop& Loop) : FLoop(Loop)
{
    FTimer1 = FLoop.AddTimer([this] {
        // Timer1 is periodic: it counts again until it is disabled.
        FLoop.StartTimer(FTimer1, FTimer1Interval);
        if (OnTimer1) OnTimer1();
    });
    FSilenceTimer = FLoop.AddTimer([this] {
        if (OnSilenceTimer) OnSilenceTimer();
    });
    FAnswerTimer = FLoop.AddTimer([this] {
        if (OnAnswerTimer) OnAnswerTimer();
    });
    FEnabled[At(TWindowControl::Con_setting)] = true;
    FEnabled[At(TWindowControl::Connect)] = true;
    FEnabled[At(TWindowControl::Start)] = true;
    FEditTexts[At(TEditBox::Index)] = "0";
    FEditTexts[At(TEditBox::Count)] = "1000";
    SetCell(0, 0, "Номер");
    SetCell(1, 0, "Ответ");
}

void TCliWindow::Select(TDropDown List, const std::string& Text)
{
    FSelected[At(List)] = Text;
}

bool TCliWindow::ControlEnabled(TWindowControl Control) const
{
    return FEnabled[At(Control)];
}

bool TCliWindow::Timer1Enabled() const
{
    return FLoop.TimerActive(FTimer1);
}

bool TCliWindow::ExchangeTimerActive(TExchangeTimer Timer) const
{
    return FLoop.TimerActive(ExchangeTimer(Timer));
}

std::vector<std::string> TCliWindow::TakeMessages()
{
    return std::exchange(FMessages, {});
}

std::vector<std::string> TCliWindow::TakeErrors()
{
    return std::exchange(FErrors, {});
}

void TCliWindow::SetControlEnabled(TWindowControl Control, bool Enabled)
{
    FEnabled[At(Control)] = Enabled;
}

std::string TCliWindow::EditText(TEditBox Box) const
{
    return FEditTexts[At(Box)];
}

void TCliWindow::SetEditText(TEditBox Box, const std::string& Text)
{
    FEditTexts[At(Box)] = Text;
    if (OnEditTextSet) OnEditTextSet(Box);
}

std::string TCliWindow::SelectedText(TDropDown List) const
{
    return FSelected[At(List)];
}

void TCliWindow::SetCell(int32_t Col, int32_t Row, const std::string& Text)
{
    if (Col < 0 || Col >= Columns || Row < 0) return;
    if (static_cast<size_t>(Row) >= FCells.size()) FCells.resize(static_cast<size_t>(Row) + 1);
    FCells[static_cast<size_t>(Row)][static_cast<size_t>(Col)] = Text;
}

std::string TCliWindow::Cell(int32_t Col, int32_t Row) const
{
    if (Col < 0 || Col >= Columns || Row < 0 || static_cast<size_t>(Row) >= FCells.size()) return {};
    return FCells[static_cast<size_t>(Row)][static_cast<size_t>(Col)];
}

void TCliWindow::SetRowCount(int32_t Rows)
{
    FRowCount = std::max(Rows, 1);
    if (OnRowCountSet) OnRowCountSet();
}

void TCliWindow::SetProgressMax(int32_t Max)
{
    if (Max < 0) throw Exception("TProgressBar property out of range");
    FProgressMax = Max;
    FProgressPosition = std::min(FProgressPosition, Max);
}

void TCliWindow::SetProgressPosition(int32_t Position)
{
    FProgressPosition = std::clamp(Position, 0, FProgressMax);
}

void TCliWindow::SetTimer1Enabled(bool Enabled)
{
    if (!Enabled)
        FLoop.StopTimer(FTimer1);
    else if (!FLoop.TimerActive(FTimer1))
        FLoop.StartTimer(FTimer1, FTimer1Interval);
}

TCliEventLoop::TTimerId TCliWindow::ExchangeTimer(TExchangeTimer Timer) const
{
    return Timer == TExchangeTimer::etSilence ? FSilenceTimer : FAnswerTimer;
}

void TCliWindow::StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval)
{
    FLoop.StartTimer(ExchangeTimer(Timer), Interval);
}

void TCliWindow::StopTimer(TExchangeTimer Timer)
{
    FLoop.StopTimer(ExchangeTimer(Timer));
}

void TCliWindow::ShowMessage(const std::string& Text)
{
    FMessages.push_back(Text);
}

void TCliWindow::PostError(const std::string& Message)
{
    FErrors.push_back(Message);
}

#include "FakeExchange.h"

#include <algorithm>
#include <cstdio>

#include "runtime/Exceptions.h"

std::string HexBytes(std::span<const uint8_t> Frame)
{
    std::string out;
    for (uint8_t b : Frame) {
        char hex[4];
        std::snprintf(hex, sizeof hex, out.empty() ? "%02X" : " %02X", b);
        out += hex;
    }
    return out;
}

void TFakePort::SetPort(const std::string& NewPort)
{
    Port = NewPort;
    Log.push_back("Port " + NewPort);
}

void TFakePort::SetBaudRate(TBaudRate NewBaudRate)
{
    BaudRate = NewBaudRate;
    Log.push_back("BaudRate " + std::to_string(static_cast<int>(NewBaudRate)));
}

void TFakePort::Open()
{
    Log.push_back("Open");
    if (IsOpen) return;
    if (!OpenError.empty()) throw Exception(OpenError);
    IsOpen = true;
}

void TFakePort::Close()
{
    Log.push_back("Close");
    IsOpen = false;
    Input.clear();
}

int32_t TFakePort::Write(std::span<const uint8_t> Buffer)
{
    if (!IsOpen) throw Exception("Port Not Open");
    if (FailWrites) throw Exception("WriteFile function failed (Error: 5)");
    Written.emplace_back(Buffer.begin(), Buffer.end());
    Log.push_back("Write " + HexBytes(Buffer));
    if (OnWrite) OnWrite(Written.back());
    return static_cast<int32_t>(Buffer.size());
}

int32_t TFakePort::Read(std::span<uint8_t> Buffer)
{
    if (!IsOpen) throw Exception("Port Not Open");
    size_t n = 0;
    while (n < Buffer.size() && !Input.empty()) {
        Buffer[n++] = Input.front();
        Input.pop_front();
    }
    return static_cast<int32_t>(n);
}

void TFakePort::ClearBuffer(bool ClearInput, bool ClearOutput)
{
    Log.push_back(std::string("ClearBuffer") + (ClearInput ? " input" : "") + (ClearOutput ? " output" : ""));
    if (ClearInput) Input.clear();
}

TFakeWindow::TFakeWindow()
{
    for (auto c : {TWindowControl::Con_setting, TWindowControl::Connect, TWindowControl::Start})
        EnabledState[c] = true;
    for (auto c : {TWindowControl::Disconnect, TWindowControl::Stop}) EnabledState[c] = false;
    Edits[TEditBox::Adder] = "1";
    Edits[TEditBox::Index] = "0";
    Edits[TEditBox::Count] = "1000";
    Selected[TDropDown::Com] = "/dev/ttyUSB0";
    Selected[TDropDown::Speed] = "19200";
    Cells[{0, 0}] = "Номер";
    Cells[{1, 0}] = "Ответ";
}

void TFakeWindow::SetControlEnabled(TWindowControl Control, bool Enabled)
{
    EnabledState[Control] = Enabled;
}

std::string TFakeWindow::EditText(TEditBox Box) const
{
    const auto it = Edits.find(Box);
    return it == Edits.end() ? std::string() : it->second;
}

void TFakeWindow::SetEditText(TEditBox Box, const std::string& Text)
{
    Edits[Box] = Text;
}

std::string TFakeWindow::SelectedText(TDropDown List) const
{
    const auto it = Selected.find(List);
    return it == Selected.end() ? std::string() : it->second;
}

void TFakeWindow::SetCell(int32_t Col, int32_t Row, const std::string& Text)
{
    Cells[{Col, Row}] = Text;
}

std::string TFakeWindow::Cell(int32_t Col, int32_t Row) const
{
    const auto it = Cells.find({Col, Row});
    return it == Cells.end() ? std::string() : it->second;
}

std::vector<std::string> TFakeWindow::GridLines() const
{
    std::vector<std::string> lines;
    for (int32_t row = 1; row < Rows; ++row) lines.push_back(Cell(0, row) + " " + Cell(1, row));
    return lines;
}

void TFakeWindow::SetProgressMax(int32_t NewMax)
{
    if (NewMax < 0) throw Exception("TProgressBar property out of range");
    Max = NewMax;
    if (Position > Max) Position = Max;
}

void TFakeWindow::SetProgressPosition(int32_t NewPosition)
{
    if (OnProgressPosition) OnProgressPosition(NewPosition);
    Position = std::clamp(NewPosition, 0, Max);
}

void TFakeWindow::SetTimer1Enabled(bool Enabled)
{
    if (Enabled && !Timer1) ++Timer1Starts;
    Timer1 = Enabled;
}

void TFakeWindow::StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval)
{
    Timers[Timer] = Interval;
}

void TFakeWindow::StopTimer(TExchangeTimer Timer)
{
    Timers.erase(Timer);
}

void TFakeWindow::ShowMessage(const std::string& Text)
{
    Messages.push_back(Text);
}

void TFakeWindow::WriteConnectionSettings()
{
    SettingsWritten.push_back(SelectedText(TDropDown::Com) + "|" + SelectedText(TDropDown::Speed) + "|" +
                              EditText(TEditBox::Adder));
}

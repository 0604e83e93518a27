#pragma once
// Recording stand-ins for the serial port and the window, so the exchange
// controller can be driven event by event and a test reads like the
// operator's session.

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/ExchangeOperations.h"
#include "TestFrames.h"

std::string HexBytes(std::span<const uint8_t> Frame);

class TFakePort : public IExchangePort {
public:
    void SetPort(const std::string& Port) override;
    void SetBaudRate(TBaudRate BaudRate) override;
    void Open() override;
    void Close() override;
    int32_t Write(std::span<const uint8_t> Buffer) override;
    int32_t Read(std::span<uint8_t> Buffer) override;
    void ClearBuffer(bool Input, bool Output) override;

    // The device side: bytes put on the line towards the tool.
    void Arrive(const Bytes& b) { Input.insert(Input.end(), b.begin(), b.end()); }

    std::string Port;
    TBaudRate BaudRate = TBaudRate::br9600;
    bool IsOpen = false;
    std::string OpenError; // when set, Open raises it
    bool FailWrites = false; // the line is gone: writes fail
    // Told of each frame that went out, as it goes.
    std::function<void(const Bytes& Frame)> OnWrite;
    std::vector<Bytes> Written;
    std::deque<uint8_t> Input;
    std::vector<std::string> Log;
};

class TFakeWindow : public IExchangeWindow {
public:
    TFakeWindow();

    void SetControlEnabled(TWindowControl Control, bool Enabled) override;
    std::string EditText(TEditBox Box) const override;
    void SetEditText(TEditBox Box, const std::string& Text) override;
    std::string SelectedText(TDropDown List) const override;
    void SetCell(int32_t Col, int32_t Row, const std::string& Text) override;
    int32_t RowCount() const override { return Rows; }
    void SetRowCount(int32_t NewRows) override { Rows = NewRows; }
    int32_t ColCount() const override { return 2; }
    int32_t ProgressMax() const override { return Max; }
    void SetProgressMax(int32_t NewMax) override;
    int32_t ProgressPosition() const override { return Position; }
    void SetProgressPosition(int32_t NewPosition) override;
    void SetTimer1Enabled(bool Enabled) override;
    void StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval) override;
    void StopTimer(TExchangeTimer Timer) override;
    void ShowMessage(const std::string& Text) override;
    void PostError(const std::string& Message) override { Errors.push_back(Message); }
    void WriteConnectionSettings() override;

    bool Enabled(TWindowControl Control) const { return EnabledState.at(Control); }
    std::string Cell(int32_t Col, int32_t Row) const;
    // Rows 1.. below the header as "number text", the way Save writes them.
    std::vector<std::string> GridLines() const;
    bool TimerRunning(TExchangeTimer Timer) const { return Timers.count(Timer) != 0; }

    std::map<TWindowControl, bool> EnabledState;
    std::map<TEditBox, std::string> Edits;
    std::map<TDropDown, std::string> Selected;
    std::map<std::pair<int32_t, int32_t>, std::string> Cells;
    int32_t Rows = 2;
    int32_t Max = 100;
    int32_t Position = 0;
    bool Timer1 = false;
    int Timer1Starts = 0; // fresh 2500 ms countdowns
    std::map<TExchangeTimer, std::chrono::microseconds> Timers;
    std::vector<std::string> Messages;
    std::vector<std::string> Errors; // error boxes posted for later
    std::vector<std::string> SettingsWritten; // "port|speed|address" per write
    // Told of each position the controller sets, before the bar holds it
    // within its range; Position still holds the one before.
    std::function<void(int32_t Asked)> OnProgressPosition;
};

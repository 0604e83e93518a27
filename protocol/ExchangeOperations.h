#pragma once
// What the exchange controller needs of the serial port and of the window.
// The window and the port implement these; tests implement them with fakes.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "serial/ComTypes.h"

class IExchangePort {
public:
    virtual ~IExchangePort() = default;
    virtual void SetPort(const std::string& Port) = 0;
    virtual void SetBaudRate(TBaudRate BaudRate) = 0;
    // Raises EComPort when the port cannot be opened.
    virtual void Open() = 0;
    // Does nothing when the port is not open.
    virtual void Close() = 0;
    // Returns once the whole buffer has gone out; raises EComPort
    // "Port Not Open" when the port is closed.
    virtual int32_t Write(std::span<const uint8_t> Buffer) = 0;
    // Returns at once with the bytes already received, at most Buffer.size().
    virtual int32_t Read(std::span<uint8_t> Buffer) = 0;
    // Discards what waits in the input and/or output queue.
    virtual void ClearBuffer(bool Input, bool Output) = 0;
};

enum class TWindowControl : uint8_t { Con_setting, Connect, Disconnect, Start, Stop };
enum class TEditBox : uint8_t { Adder, Version, Serial, Index, Count };
enum class TDropDown : uint8_t { Com, Speed };

// The controller's own single-shot timers, besides the watchdog Timer1.
enum class TExchangeTimer : uint8_t {
    etSilence, // the line has been quiet long enough to judge the bytes assembled
    etAnswer,  // a record request went unanswered
};

class IExchangeWindow {
public:
    virtual ~IExchangeWindow() = default;

    virtual void SetControlEnabled(TWindowControl Control, bool Enabled) = 0;
    virtual std::string EditText(TEditBox Box) const = 0;
    virtual void SetEditText(TEditBox Box, const std::string& Text) = 0;
    // Empty when no entry is selected.
    virtual std::string SelectedText(TDropDown List) const = 0;

    // The grid Arch. Cell texts are kept apart from the row count: a cell at
    // or beyond the row count keeps its text and shows once the grid grows.
    virtual void SetCell(int32_t Col, int32_t Row, const std::string& Text) = 0;
    virtual int32_t RowCount() const = 0;
    virtual void SetRowCount(int32_t Rows) = 0;
    virtual int32_t ColCount() const = 0;

    // The position stays within 0..maximum; a maximum below 0 is refused
    // with "TProgressBar property out of range".
    virtual int32_t ProgressMax() const = 0;
    virtual void SetProgressMax(int32_t Max) = 0;
    virtual int32_t ProgressPosition() const = 0;
    virtual void SetProgressPosition(int32_t Position) = 0;

    // Enabling a disabled Timer1 starts a fresh 2500 ms countdown; enabling
    // it while enabled changes nothing.
    virtual void SetTimer1Enabled(bool Enabled) = 0;
    // (Re)starts a single-shot countdown; stopping a stopped one is harmless.
    virtual void StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval) = 0;
    virtual void StopTimer(TExchangeTimer Timer) = 0;

    // A modal box with no icon and one OK button, captioned with the
    // application's title; returns when the operator has closed it.
    virtual void ShowMessage(const std::string& Text) = 0;
    // The error box of a failure that cannot be raised where it happened,
    // shown once the current event is done.
    virtual void PostError(const std::string& Message) = 0;

    // Stores the selected port, the selected speed and the address text.
    virtual void WriteConnectionSettings() = 0;
};

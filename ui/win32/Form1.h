#pragma once
// The tool's one window, native: the connection settings, the device's
// identity, the range of records to fetch, the buttons that drive the
// exchange, the grid the records are downloaded into, the progress bar and
// Save. Positions and sizes are pixels at 96 pixels per inch, scaled with
// the pixels per inch of the monitor the window is on.

#include <deque>
#include <memory>
#include <string>

#include "protocol/ExchangeController.h"
#include "protocol/ExchangeOperations.h"
#include "serial/ComPort.h"
#include "ui/ComPortExchange.h"
#include "ui/ConnectionSettings.h"
#include "ui/LogExport.h"
#include "ui/win32/GridCells.h"
#include "ui/win32/PreciseTimers.h"

#include <windows.h>

class TForm1 : public IExchangeWindow, public IConnectionControls, public ILogSource {
public:
    static constexpr int ClientWidth = 521;
    static constexpr int ClientHeight = 461;
    static constexpr UINT Timer1Interval = 2500;

    // Builds the window, hidden, and every control with its stored values;
    // FormCreate runs after.
    TForm1();
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void FormCreate();
    void FormClose();

    // Handlers of the controls.
    void ConnectClick();
    void DisconnectClick();
    void StartClick();
    void StopClick();
    void SaveClick();
    void Timer1Timer();
    void ComPort1RxChar(TObject& Sender, int32_t Count);

    HWND Handle() const { return FHandle; }
    // Shows the window and puts the focus on its first control.
    void Show(int ShowCommand = SW_SHOW);
    // Closing ends the message loop (the program's window) when set.
    bool QuitWhenClosed = false;

    // The controls, by their names. Con_setting is the group's own window;
    // the group's frame and caption are drawn by Con_settingFrame inside it.
    HWND Con_setting = nullptr;
    HWND Con_settingFrame = nullptr;
    HWND Com_str = nullptr;
    HWND Speed_str = nullptr;
    HWND Com = nullptr;
    HWND Speed = nullptr;
    HWND Adder = nullptr;
    HWND Label4 = nullptr;
    HWND Disconnect = nullptr;
    HWND Connect = nullptr;
    HWND Version = nullptr;
    HWND Index = nullptr;
    HWND Count = nullptr;
    HWND Index_str = nullptr;
    HWND Count_str = nullptr;
    HWND Start = nullptr;
    HWND Stop = nullptr;
    HWND Arch = nullptr;
    TComPort ComPort1{nullptr};
    HWND Serial = nullptr;
    HWND Version_str = nullptr;
    HWND Serial_str = nullptr;
    HWND ProgressBar = nullptr;
    HWND Save = nullptr;

    bool Timer1Enabled() const { return FTimer1Enabled; }
    // Shows the grid's rows and texts now rather than at the next refresh.
    void RefreshGrid();
    bool ExchangeTimerActive(TExchangeTimer Timer) const;
    UINT Dpi() const { return FDpi; }
    TExchangeController& Controller() { return FController; }

    // IExchangeWindow
    void SetControlEnabled(TWindowControl Control, bool Enabled) override;
    std::string EditText(TEditBox Box) const override;
    void SetEditText(TEditBox Box, const std::string& Text) override;
    std::string SelectedText(TDropDown List) const override;
    void SetCell(int32_t Col, int32_t Row, const std::string& Text) override;
    int32_t RowCount() const override { return FGrid.RowCount(); }
    void SetRowCount(int32_t Rows) override;
    int32_t ColCount() const override { return TGridCells::Columns; }
    int32_t ProgressMax() const override { return FProgressMax; }
    void SetProgressMax(int32_t Max) override;
    int32_t ProgressPosition() const override { return FProgressPosition; }
    void SetProgressPosition(int32_t Position) override;
    void SetTimer1Enabled(bool Enabled) override;
    void StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval) override;
    void StopTimer(TExchangeTimer Timer) override;
    void ShowMessage(const std::string& Text) override;
    void PostError(const std::string& Message) override;
    void WriteConnectionSettings() override;

    // IConnectionControls
    std::vector<std::string> ComItems() const override;
    void SetComItems(const std::vector<std::string>& Items) override;
    void SetComIndex(int32_t Index) override;
    std::string ComText() const override;
    std::vector<std::string> SpeedItems() const override;
    void SetSpeedIndex(int32_t Index) override;
    std::string SpeedText() const override;
    std::string AdderText() const override;
    void SetAdderText(const std::string& Text) override;

    // ILogSource
    std::string VersionText() const override;
    std::string SerialText() const override;
    std::string Cell(int32_t Col, int32_t Row) const override;

private:
    struct TFontDeleter {
        void operator()(HFONT Font) const { DeleteObject(Font); }
    };
    struct TImageListDeleter {
        void operator()(struct _IMAGELIST* List) const;
    };

    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    static LRESULT CALLBACK GroupProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    LRESULT HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam);
    void BuildControls();
    void WirePort();
    void ApplyDpi(UINT NewDpi);
    int Scaled(int Pixels) const { return MulDiv(Pixels, static_cast<int>(FDpi), 96); }
    void Command(WORD Id, WORD Code, HWND Control);
    LRESULT Notify(NMHDR& Header);
    HWND EditBox(TEditBox Box) const;
    void ShowProgress();
    void UpdateHeaderText(int32_t Col);
    void GridChanged();

    HWND FHandle = nullptr;
    UINT FDpi = 96;
    std::unique_ptr<std::remove_pointer_t<HFONT>, TFontDeleter> FFont;
    std::unique_ptr<struct _IMAGELIST, TImageListDeleter> FRowHeight;
    TGridCells FGrid;
    std::wstring FCellText; // the text the grid is drawing
    bool FGridChanged = false;
    HWND FFocused = nullptr; // the control that had the focus when the window lost it
    TComPortExchange FPortOperations{ComPort1};
    TExchangeController FController{FPortOperations, *this};
    std::unique_ptr<TPreciseTimers> FExchangeTimers;
    bool FTimer1Enabled = false;
    std::deque<std::string> FPostedErrors;
    int32_t FProgressMax = 100;
    int32_t FProgressPosition = 0;
};

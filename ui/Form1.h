#pragma once
// The tool's one window: the connection settings, the device's identity, the
// range of records to fetch, the buttons that drive the exchange, the grid
// the records are downloaded into, the progress bar and Save.

#include <QWidget>

#include <filesystem>
#include <memory>

#include "protocol/ExchangeController.h"
#include "protocol/ExchangeOperations.h"
#include "serial/ComPort.h"
#include "ui/ComPortExchange.h"
#include "ui/ConnectionSettings.h"
#include "ui/LogExport.h"
#include "ui/PreciseTimer.h"
#include "ui/StringGrid.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;

class TForm1 : public QWidget,
               public IExchangeWindow,
               public IConnectionControls,
               public ILogSource {
public:
    // Builds every control with its stored values; FormCreate runs after.
    // The port list is read under the given roots (tests use a fake tree).
    explicit TForm1(std::filesystem::path SysRoot = "/sys", std::filesystem::path DevRoot = "/dev");
    ~TForm1() override;

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

    // The controls, by their names.
    QGroupBox* Con_setting;
    QLabel* Com_str;
    QLabel* Speed_str;
    QComboBox* Com;
    QComboBox* Speed;
    QLineEdit* Adder;
    QLabel* Label4;
    QPushButton* Disconnect;
    QPushButton* Connect;
    QLineEdit* Version;
    QLineEdit* Index;
    QLineEdit* Count;
    QLabel* Index_str;
    QLabel* Count_str;
    QPushButton* Start;
    QPushButton* Stop;
    QTableView* Arch;
    TComPort ComPort1{nullptr};
    QLineEdit* Serial;
    QLabel* Version_str;
    QLabel* Serial_str;
    QProgressBar* ProgressBar;
    QPushButton* Save;
    QTimer* Timer1;

    TExchangeController& Controller() { return FController; }
    TStringGridModel& Grid() { return FGrid; }

    // IExchangeWindow
    void SetControlEnabled(TWindowControl Control, bool Enabled) override;
    std::string EditText(TEditBox Box) const override;
    void SetEditText(TEditBox Box, const std::string& Text) override;
    std::string SelectedText(TDropDown List) const override;
    void SetCell(int32_t Col, int32_t Row, const std::string& Text) override;
    int32_t RowCount() const override { return FGrid.GridRowCount(); }
    void SetRowCount(int32_t Rows) override { FGrid.SetGridRowCount(Rows); }
    int32_t ColCount() const override { return TStringGridModel::Columns; }
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

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildControls();
    void WireHandlers();
    TPreciseTimer* ExchangeTimer(TExchangeTimer Timer) const;
    QLineEdit* EditBox(TEditBox Box) const;
    void ShowProgress();

    std::filesystem::path FSysRoot;
    std::filesystem::path FDevRoot;
    TStringGridModel FGrid;
    TComPortExchange FPortOperations{ComPort1};
    TExchangeController FController{FPortOperations, *this};
    TPreciseTimer* FSilenceTimer;
    TPreciseTimer* FAnswerTimer;
    int32_t FProgressMax = 100;
    int32_t FProgressPosition = 0;
};

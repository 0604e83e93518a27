// The whole program as an operator uses it: the real window under Qt's
// offscreen platform, the simulated device on a pseudo-terminal, a
// temporary working directory.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "SimDeviceProcess.h"
#include "runtime/ExceptionDisplay.h"
#include "runtime/MainThread.h"
#include "ui/EventLoopHandOver.h"
#include "ui/Form1.h"
#include "ui/MessageBoxes.h"
#include "ui/PreciseTimer.h"
#include "ui/StringGrid.h"

namespace fs = std::filesystem;

namespace {

struct TBox {
    QString Title;
    QMessageBox::Icon Icon;
    QString Text;
};

// Closes every modal message box as it appears, remembering what it said.
class TBoxCloser {
public:
    TBoxCloser()
    {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            Boxes.push_back({box->windowTitle(), box->icon(), box->text()});
            box->button(QMessageBox::Ok)->click();
        });
        FTimer.start();
    }
    std::vector<TBox> Boxes;

private:
    QTimer FTimer;
};

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void ExpectSavedLogEqualsDevice(class TForm1& Form, const std::vector<std::string>& Log);

class Window : public testing::Test {
protected:
    fs::path dir;
    fs::path previous = fs::current_path();
    std::unique_ptr<TSimDeviceProcess> device;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TBoxCloser> boxes;

    void SetUp() override
    {
        char pattern[] = "/tmp/actionlog-ui-XXXXXX";
        dir = ::mkdtemp(pattern);
        fs::create_directories(dir / "sys/class/tty"); // no serial ports present
        fs::current_path(dir);
        boxes = std::make_unique<TBoxCloser>();
        SetExceptionDisplay([this](const std::exception& e) {
            ShowErrorBox(form.get(), QString::fromUtf8(e.what()));
        });
    }

    void TearDown() override
    {
        form.reset();
        device.reset();
        SetExceptionDisplay(nullptr);
        boxes.reset();
        fs::current_path(previous);
        if (qEnvironmentVariableIsEmpty("KEEP_TEST_DIR")) fs::remove_all(dir);
    }

    std::string Port() const { return (dir / "ttySIM").string(); }

    void StartDevice(std::vector<std::string> Options = {})
    {
        for (const char* o : {"--link", "--dump", "--log"}) Options.push_back(o), Options.push_back("");
        Options[Options.size() - 5] = Port();
        Options[Options.size() - 3] = (dir / "device-log.txt").string();
        Options[Options.size() - 1] = (dir / "device.log").string();
        device = std::make_unique<TSimDeviceProcess>(Options);
    }

    std::vector<std::string> DeviceLog() const { return ReadLines((dir / "device-log.txt").string()); }
    // Record requests (function 0x41) the device has taken in, as its log
    // notes them: "  rx AA 41 ...".
    size_t DeviceRecordRequests() const
    {
        return std::ranges::count_if(ReadLines((dir / "device.log").string()), [](const std::string& Line) {
            const size_t rx = Line.find("  rx ");
            return rx != std::string::npos && Line.compare(rx + 7, 3, " 41") == 0;
        });
    }

    void WriteSettings(const std::string& Speed = "115200", const std::string& Address = "1")
    {
        std::ofstream(dir / "Settings.txt", std::ios::binary) << Port() << "\r\n" << Speed << "\r\n" << Address << "\r\n";
    }

    void CreateForm()
    {
        form = std::make_unique<TForm1>(dir / "sys", "/dev");
        RunGuarded([this] { form->FormCreate(); });
        form->show();
    }

    static bool WaitFor(const std::function<bool()>& Done, int Ms = 10000) { return QTest::qWaitFor(Done, Ms); }
    static void Click(QPushButton* Button) { QTest::mouseClick(Button, Qt::LeftButton); }

    bool Connected() const { return form->Disconnect->isEnabled() && !form->Connect->isEnabled(); }
    // Until the record count's answer has filled Count.
    void ConnectAndIdentify()
    {
        form->Count->clear();
        Click(form->Connect);
        ASSERT_TRUE(WaitFor([&] { return !form->Count->text().isEmpty(); }));
    }
    bool Downloading() const { return form->Stop->isEnabled(); }
    void Download()
    {
        Click(form->Start);
        ASSERT_TRUE(WaitFor([&] { return !Downloading(); }, 60000));
    }

    // The grid's rows below the header as "number text".
    std::vector<std::string> Grid() const
    {
        std::vector<std::string> lines;
        for (int32_t row = 1; row < form->RowCount(); ++row)
            lines.push_back(form->Cell(0, row) + " " + form->Cell(1, row));
        return lines;
    }
    // A whole download of Log: index N - 1 first, then one empty row.
    static std::vector<std::string> WholeLog(const std::vector<std::string>& Log)
    {
        std::vector<std::string> lines;
        for (size_t row = 1; row <= Log.size(); ++row) lines.push_back(std::to_string(row) + " " + Log[Log.size() - row]);
        lines.push_back(" ");
        return lines;
    }
    void ExpectBoxes(std::initializer_list<std::pair<QMessageBox::Icon, const char*>> Expected)
    {
        ASSERT_EQ(boxes->Boxes.size(), Expected.size());
        size_t i = 0;
        for (const auto& [icon, text] : Expected) {
            EXPECT_EQ(boxes->Boxes[i].Title, ApplicationTitle());
            EXPECT_EQ(boxes->Boxes[i].Icon, icon);
            EXPECT_EQ(boxes->Boxes[i].Text.toStdString(), text);
            ++i;
        }
    }
};

// --- start-up ----------------------------------------------------------------

TEST_F(Window, StartsWithDefaultsWhenThereIsNoSettingsFile)
{
    CreateForm();
    EXPECT_TRUE(fs::exists("Settings.txt"));
    EXPECT_EQ(fs::file_size("Settings.txt"), 0u);
    EXPECT_EQ(form->Com->count(), 0);
    EXPECT_EQ(form->Com->currentIndex(), -1);
    EXPECT_EQ(form->Speed->currentText(), "19200");
    EXPECT_EQ(form->Adder->text(), "1");
    EXPECT_EQ(form->Index->text(), "0");
    EXPECT_EQ(form->Count->text(), "1000");
    EXPECT_EQ(form->Cell(0, 0), "Номер");
    EXPECT_EQ(form->Cell(1, 0), "Ответ");
    EXPECT_EQ(form->RowCount(), 2);
    EXPECT_TRUE(form->Con_setting->isEnabled());
    EXPECT_TRUE(form->Connect->isEnabled());
    EXPECT_FALSE(form->Disconnect->isEnabled());
    EXPECT_TRUE(form->Start->isEnabled());
    EXPECT_FALSE(form->Stop->isEnabled());
    EXPECT_FALSE(form->Version->isEnabled());
    EXPECT_FALSE(form->Serial->isEnabled());
    EXPECT_EQ(form->windowTitle(), "ЛОРНИК журнал действий пользователя");
    EXPECT_EQ(form->size(), QSize(521, 461));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, StartsWithTheRememberedPortSpeedAndAddress)
{
    StartDevice();
    WriteSettings("57600", "17");
    CreateForm();
    EXPECT_EQ(form->Com->currentText().toStdString(), Port());
    EXPECT_EQ(form->Speed->currentText(), "57600");
    EXPECT_EQ(form->Adder->text(), "17");
}

TEST_F(Window, EnterAndEscClickNothing)
{
    StartDevice();
    WriteSettings();
    CreateForm();
    for (QWidget* w : std::initializer_list<QWidget*>{form->Connect, form->Adder, form->Index}) {
        w->setFocus();
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_Escape);
    }
    QTest::qWait(50);
    EXPECT_TRUE(form->Connect->isEnabled());
    // Tab leaves the grid for Save.
    form->activateWindow();
    form->Arch->setFocus();
    QTest::keyClick(form->Arch, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->Save);
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_EQ(fs::file_size("Settings.txt"), Port().size() + 13); // not rewritten by a connect
}

// The window's control table: where each control stands, its size, its place
// in the tab order and whether it is enabled when built. A label's width
// follows its caption in whatever face is installed; it only has to show the
// whole caption without running under the control to its right.
struct TControlRow {
    const char* Name;
    QWidget* (*Of)(TForm1&);
    bool InGroup; // a child of Con_setting
    int Left, Top, Width, Height; // Width 0: a label, as wide as its caption
    int Tab;        // -1: not in the tab order; in the group: its place there
    bool TakesFocus;
    bool EnabledWhenBuilt;
};

#define CONTROL(name) #name, [](TForm1& f) -> QWidget* { return f.name; }
const TControlRow ControlTable[] = {
    {CONTROL(Con_setting), false, 0, 8, 225, 97, 0, false, true},
    {CONTROL(Com_str), true, 16, 19, 0, 13, -1, false, true},
    {CONTROL(Speed_str), true, 16, 70, 0, 13, -1, false, true},
    {CONTROL(Com), true, 113, 16, 97, 21, 0, true, true},
    {CONTROL(Speed), true, 113, 67, 97, 21, 1, true, true},
    {CONTROL(Adder), true, 113, 42, 97, 21, 2, true, true},
    {CONTROL(Label4), true, 16, 45, 0, 13, -1, false, true},
    {CONTROL(Disconnect), false, 121, 111, 89, 26, 1, true, true},
    {CONTROL(Connect), false, 18, 111, 97, 26, 2, true, true},
    {CONTROL(Version), false, 240, 16, 113, 21, 3, true, false},
    {CONTROL(Index), false, 328, 48, 81, 21, 4, true, true},
    {CONTROL(Count), false, 328, 75, 81, 21, 5, true, true},
    {CONTROL(Index_str), false, 240, 51, 0, 13, -1, false, true},
    {CONTROL(Count_str), false, 240, 78, 0, 13, -1, false, true},
    {CONTROL(Start), false, 240, 111, 75, 25, 6, true, true},
    {CONTROL(Stop), false, 334, 111, 75, 25, 7, true, true},
    {CONTROL(Arch), false, 16, 172, 505, 289, 8, true, true},
    {CONTROL(Serial), false, 359, 16, 88, 21, 9, true, false},
    {CONTROL(Version_str), false, 240, 0, 0, 13, -1, false, true},
    {CONTROL(Serial_str), false, 359, 0, 0, 13, -1, false, true},
    {CONTROL(ProgressBar), false, 16, 149, 246, 17, 10, false, true},
    {CONTROL(Save), false, 312, 141, 97, 25, 11, true, true},
};
#undef CONTROL

// Where a label's room ends: at the nearest control of the table to its
// right on the same lines, or else at its parent's right edge.
int RightLimitOf(const TControlRow& Label, int ParentWidth)
{
    int limit = ParentWidth;
    for (const TControlRow& other : ControlTable) {
        const bool sameLines = other.Top < Label.Top + Label.Height && Label.Top < other.Top + other.Height;
        if (&other != &Label && other.InGroup == Label.InGroup && other.Left > Label.Left && sameLines)
            limit = std::min(limit, other.Left);
    }
    return limit;
}

// The controls that take focus, in tab order: the group's children in the
// group's place.
std::vector<const TControlRow*> TabOrder()
{
    std::vector<const TControlRow*> order;
    for (const TControlRow& row : ControlTable)
        if (row.TakesFocus) order.push_back(&row);
    const auto place = [](const TControlRow* Row) {
        return Row->InGroup ? std::pair(0, Row->Tab) : std::pair(Row->Tab, -1);
    };
    std::ranges::sort(order, {}, place);
    return order;
}

TEST_F(Window, ControlsStandWhereTheirTableSays)
{
    form = std::make_unique<TForm1>(dir / "sys", "/dev"); // as built, before FormCreate
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_EQ(form->size(), QSize(521, 461));
    // The run with only some faces installed names the face it must get.
    if (const QString face = qEnvironmentVariable("EXPECTED_FONT_FACE"); !face.isEmpty()) {
        EXPECT_EQ(QFontInfo(form->font()).family().toStdString(), face.toStdString());
    }

    for (const TControlRow& row : ControlTable) {
        SCOPED_TRACE(row.Name);
        QWidget* control = row.Of(*form);
        EXPECT_EQ(control->parentWidget(), row.InGroup ? static_cast<QWidget*>(form->Con_setting) : form.get());
        EXPECT_EQ(std::pair(control->x(), control->y()), std::pair(row.Left, row.Top)) << "left, top";
        EXPECT_EQ(control->font().pixelSize(), 11);
        if (row.Width != 0) {
            EXPECT_EQ(std::pair(control->width(), control->height()), std::pair(row.Width, row.Height))
                << "width, height";
        } else {
            const int rightLimit = RightLimitOf(row, control->parentWidget()->width());
            EXPECT_GE(control->width(), control->sizeHint().width()) << "caption cut";
            EXPECT_GE(control->height(), control->sizeHint().height()) << "caption cut";
            EXPECT_LE(control->x() + control->width(), rightLimit) << "caption runs under the next control";
            const QString caption = qobject_cast<QLabel*>(control)->text();
            EXPECT_LT(control->x() + control->fontMetrics().tightBoundingRect(caption).right(), rightLimit - 1)
                << "caption touches the next control";
        }
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 6) << "caption cut";
        }
        EXPECT_EQ(control->focusPolicy() != Qt::NoFocus, row.TakesFocus);
        EXPECT_EQ(control->isEnabled(), row.EnabledWhenBuilt);
    }

    // Tab visits the enabled controls in tab order and comes round again.
    const auto expectTabWalk = [&](const char* Moment) {
        SCOPED_TRACE(Moment);
        std::vector<std::string> expected, walked;
        for (const TControlRow* row : TabOrder())
            if (row->Of(*form)->isEnabled()) expected.push_back(row->Name);
        form->activateWindow();
        form->Com->setFocus();
        QWidget* first = QApplication::focusWidget();
        ASSERT_EQ(first, form->Com);
        for (QWidget* focus = first; walked.size() <= expected.size();) {
            const auto row =
                std::ranges::find_if(ControlTable, [&](const TControlRow& r) { return r.Of(*form) == focus; });
            walked.push_back(row == std::end(ControlTable) ? "?" : row->Name);
            QTest::keyClick(focus, Qt::Key_Tab);
            focus = QApplication::focusWidget();
            if (focus == first) break;
        }
        EXPECT_EQ(walked, expected);
    };
    expectTabWalk("as built");

    RunGuarded([this] { form->FormCreate(); });
    EXPECT_FALSE(form->Disconnect->isEnabled());
    EXPECT_FALSE(form->Stop->isEnabled());
    expectTabWalk("after FormCreate");
}

// --- a whole download ----------------------------------------------------------

TEST_F(Window, ConnectStartAndSaveFetchTheWholeLog)
{
    StartDevice({"--records", "40"});
    WriteSettings();
    CreateForm();
    Click(form->Connect);
    EXPECT_TRUE(Connected());
    EXPECT_FALSE(form->Con_setting->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return form->Count->text() == "40"; }));
    EXPECT_EQ(form->Version->text(), "V2.14");
    EXPECT_EQ(form->Serial->text(), "20231187");
    EXPECT_EQ(form->Index->text(), "39");
    EXPECT_FALSE(form->Timer1->isActive());

    Download();
    const auto log = DeviceLog();
    ASSERT_EQ(log.size(), 40u);
    EXPECT_EQ(Grid(), WholeLog(log));
    EXPECT_EQ(form->ProgressPosition(), 40);
    EXPECT_EQ(form->ProgressBar->value(), form->ProgressBar->maximum());
    EXPECT_TRUE(form->Start->isEnabled());
    EXPECT_FALSE(form->Stop->isEnabled());

    Click(form->Save);
    std::string expected = "Версия прибора: V2.14\r\nСерийный номер: 20231187\r\n";
    for (const std::string& line : WholeLog(log)) expected += line + "\r\n";
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_20231187.txt"), expected);
    EXPECT_EQ(ReadBytes("Settings.txt"), Port() + "\r\n115200\r\n1\r\n");
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, RangeStopReconnectAndExceptionAnswer)
{
    StartDevice({"--records", "150"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    const auto log = DeviceLog();

    form->Index->setText("99");
    form->Count->setText("10");
    Download();
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) expected.push_back(std::to_string(i + 1) + " " + log[static_cast<size_t>(99 - i)]);
    expected.push_back(" ");
    EXPECT_EQ(Grid(), expected);
    EXPECT_EQ(form->ProgressPosition(), 10);

    // Disconnect and connect again.
    Click(form->Disconnect);
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_TRUE(form->Connect->isEnabled());
    ConnectAndIdentify();
    EXPECT_TRUE(Connected());

    // The device lacks index 150: the tool asks for the start index plus one
    // again and again, until Stop.
    form->Index->setText("150");
    form->Count->setText("3");
    const size_t requestsBefore = DeviceRecordRequests();
    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->ProgressPosition() == 3 && DeviceRecordRequests() > requestsBefore + 5; }));
    Click(form->Stop);
    EXPECT_TRUE(form->Start->isEnabled());
    // Every write is the main thread's: while it sleeps here, nothing new
    // goes out, and the device takes in and notes what was already sent.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const size_t requestsAtStop = DeviceRecordRequests();
    QTest::qWait(300);
    EXPECT_EQ(DeviceRecordRequests(), requestsAtStop) << "record requests went on after Stop";
    EXPECT_TRUE(form->Start->isEnabled());
    EXPECT_FALSE(form->Stop->isEnabled());
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, StopMidDownloadKeepsWhatCameAndClosingTheWindowClosesThePort)
{
    StartDevice({"--records", "200", "--pace", "--delay-ms", "5"});
    WriteSettings("19200");
    CreateForm();
    ConnectAndIdentify();
    const auto log = DeviceLog();
    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->RowCount() > 6; }));
    Click(form->Stop);
    const int32_t rowsAtStop = form->RowCount();
    QTest::qWait(300);
    // At most the answer already on its way when Stop was clicked.
    EXPECT_LE(form->RowCount(), rowsAtStop + 1) << "records went on after Stop";
    const auto grid = Grid();
    for (size_t row = 1; row < grid.size(); ++row)
        EXPECT_EQ(grid[row - 1], std::to_string(row) + " " + log[200 - row]);
    EXPECT_TRUE(form->Start->isEnabled());

    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->RowCount() > 4; }));
    form->close(); // mid-download
    EXPECT_FALSE(form->ComPort1.Connected());
    TComPort other(nullptr);
    other.SetPort(Port());
    EXPECT_NO_THROW(other.Open());
}

// --- what the operator is told -------------------------------------------------

TEST_F(Window, DeviceThatNeverAnswers)
{
    StartDevice({"--address", "5"});
    WriteSettings();
    CreateForm();
    Click(form->Connect);
    EXPECT_TRUE(form->Timer1->isActive());
    ASSERT_TRUE(WaitFor([&] { return !boxes->Boxes.empty(); }, 5000));
    ExpectBoxes({{QMessageBox::NoIcon, "Прибор не отвечает"}});
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_TRUE(form->Connect->isEnabled());
    EXPECT_FALSE(form->Disconnect->isEnabled());
    EXPECT_TRUE(form->Con_setting->isEnabled());
}

TEST_F(Window, RefusalsAreShownWithTheirMessages)
{
    StartDevice();
    WriteSettings();
    CreateForm();

    Click(form->Start); // not connected
    EXPECT_TRUE(form->Stop->isEnabled());
    Click(form->Stop);

    TComPort holder(nullptr); // another program holds the port
    holder.SetPort(Port());
    holder.SetEvents({});
    holder.Open();
    Click(form->Connect);
    holder.Close();
    EXPECT_TRUE(form->Connect->isEnabled());

    form->Adder->setText("abc");
    Click(form->Connect);
    EXPECT_TRUE(Connected());
    Click(form->Disconnect);

    form->Adder->setText("1");
    form->Index->setText("1x");
    Click(form->Start);
    EXPECT_TRUE(form->Start->isEnabled());

    // A message ending in a letter gets a full stop, one ending in ")" none.
    ExpectBoxes({{QMessageBox::Critical, "Port Not Open."},
                 {QMessageBox::Critical, "Unable to open com port (Error: 5)"},
                 {QMessageBox::Critical, "'abc' is not a valid integer value."},
                 {QMessageBox::Critical, "'1x' is not a valid integer value."}});
}

// --- faults of the line ----------------------------------------------------

TEST_F(Window, LongRecordsAtTheSlowestSpeedComeWhole)
{
    StartDevice({"--records", "2", "--min-length", "250", "--max-length", "250", "--pace"});
    WriteSettings("1200");
    CreateForm();
    ConnectAndIdentify();
    Download();
    const auto log = DeviceLog();
    EXPECT_EQ(Grid(), WholeLog(log));
    EXPECT_EQ(form->Cell(1, 1).size(), log[1].size());
}

// Each download's saved log must equal the device's log exactly: no record
// missing, doubled or shifted.
void ExpectSavedLogEqualsDevice(TForm1& Form, const std::vector<std::string>& Log)
{
    Form.SaveClick();
    std::string expected = "Версия прибора: V2.14\r\nСерийный номер: 20231187\r\n";
    for (size_t row = 1; row <= Log.size(); ++row)
        expected += std::to_string(row) + " " + Log[Log.size() - row] + "\r\n";
    expected += " \r\n";
    EXPECT_EQ(ReadBytes("Журнал_ЛОРНИК_20231187.txt"), expected);
}

TEST_F(Window, SplitDroppedAndCorruptedAnswersLeaveTheLogExact)
{
    StartDevice({"--records", "12", "--split-gap-ms", "40", "--drop-every", "5", "--corrupt-every", "7"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    Download();
    ExpectSavedLogEqualsDevice(*form, DeviceLog());
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, LateAnswersAreNeverTakenForTheNextRecord)
{
    // Later than the tool's answer time-out: each arrives while the request
    // is being sent again, and the answer to the second copy follows it.
    StartDevice({"--records", "8", "--late-every", "3", "--late-ms", "1300"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    Download();
    ExpectSavedLogEqualsDevice(*form, DeviceLog());
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, UnpluggedDeviceEndsInAMessageAndReconnectWorksOnceItIsBack)
{
    StartDevice({"--records", "50", "--unplug-after", "3", "--replug-ms", "300"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    Click(form->Start);
    // The line's failure is shown (a read or a write that fails) and the
    // download ends.
    ASSERT_TRUE(WaitFor([&] { return !boxes->Boxes.empty() && !Downloading(); }, 15000));
    EXPECT_EQ(boxes->Boxes[0].Icon, QMessageBox::Critical) << boxes->Boxes[0].Text.toStdString();
    Click(form->Disconnect);
    ASSERT_FALSE(device->NextLine(5000).empty()); // the device is back
    ConnectAndIdentify();
    EXPECT_EQ(form->Count->text(), "50");
}

// --- the grid ------------------------------------------------------------------

// A download adds a row per record: the view hears of new rows in batches,
// never by a reset, and shows every row and text once the batch is out.
TEST(Grid, NewRowsReachTheViewInBatchesFewerRowsAtOnce)
{
    TStringGridModel grid;
    QTableView view;
    view.setModel(&grid);
    view.resize(500, 300);
    view.show();
    int inserts = 0, removals = 0, resets = 0;
    QObject::connect(&grid, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    QObject::connect(&grid, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
    QObject::connect(&grid, &QAbstractItemModel::modelReset, [&] { ++resets; });

    // As the controller fills it: the row's texts, then one row more.
    constexpr int32_t Records = 3000;
    for (int32_t row = 1; row <= Records; ++row) {
        grid.SetCell(0, row, QString::number(row));
        grid.SetCell(1, row, QStringLiteral("record %1").arg(row));
        grid.SetGridRowCount(row + 2);
        if (row % 100 == 0) QCoreApplication::processEvents();
    }
    EXPECT_EQ(grid.GridRowCount(), Records + 2);
    EXPECT_EQ(grid.Cell(1, Records), QStringLiteral("record 3000"));
    EXPECT_LT(inserts, 10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.model()->rowCount() == Records + 1; }, 1000));
    EXPECT_EQ(view.model()->index(Records - 1, 1).data().toString(), QStringLiteral("record 3000"));
    EXPECT_EQ(view.model()->index(Records, 1).data().toString(), QString());
    view.scrollToBottom();
    QCoreApplication::processEvents();
    EXPECT_EQ(view.verticalHeader()->count(), Records + 1);
    EXPECT_TRUE(view.viewport()->rect().contains(view.visualRect(view.model()->index(Records - 1, 1))));

    // Start clears the grid down to the header and one row at once.
    grid.SetGridRowCount(2);
    EXPECT_EQ(view.model()->rowCount(), 1);
    EXPECT_EQ(removals, 1);
    grid.SetCell(1, 1, QStringLiteral("first again"));
    EXPECT_EQ(view.model()->index(0, 1).data().toString(), QStringLiteral("first again"));
    grid.SetGridRowCount(5);
    grid.ShowRowsNow();
    EXPECT_EQ(view.model()->rowCount(), 4);
    EXPECT_EQ(view.model()->index(1, 1).data().toString(), QStringLiteral("record 2"));
    EXPECT_EQ(resets, 0);
}

// --- the exchange timers -------------------------------------------------------

// The line's silence is 1.75 ms: the timer must neither fire before it nor
// fire after being stopped or restarted.
TEST(ExchangeTimer, FiresOnceNotBeforeItsIntervalAndNotAfterStop)
{
    using namespace std::chrono;
    TPreciseTimer timer;
    std::vector<steady_clock::duration> fired;
    steady_clock::time_point started;
    timer.OnTimeout = [&] { fired.push_back(steady_clock::now() - started); };

    started = steady_clock::now();
    timer.Start(1750us);
    EXPECT_TRUE(timer.IsActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fired.empty(); }, 1000));
    EXPECT_GE(fired[0], 1750us);
    EXPECT_FALSE(timer.IsActive());
    QTest::qWait(20);
    EXPECT_EQ(fired.size(), 1u);

    // Stopped, even once it has run out but before the loop saw it.
    timer.Start(1us);
    std::this_thread::sleep_for(2ms);
    timer.Stop();
    QTest::qWait(20);
    EXPECT_EQ(fired.size(), 1u);

    // Restarted: the later start counts.
    started = steady_clock::now();
    timer.Start(1ms);
    timer.Start(30ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired.size() == 2; }, 1000));
    EXPECT_GE(fired[1], 30ms);
    QTest::qWait(40);
    EXPECT_EQ(fired.size(), 2u);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::setlocale(LC_ALL, "C.UTF-8");
    HandOverToEventLoop();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    EndHandOverToEventLoop();
    return result;
}

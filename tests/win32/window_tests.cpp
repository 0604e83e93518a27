// The native window as an operator uses it, under wine on a virtual display:
// the real window driven by its messages, the simulated device on a
// pseudo-terminal that wine shows as a COM port, a temporary working folder.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include "WineDevice.h"
#include "runtime/CodePage.h"
#include "runtime/ExceptionDisplay.h"
#include "ui/win32/Form1.h"
#include "ui/win32/GridCells.h"
#include "ui/win32/MessageBoxes.h"
#include "ui/win32/MessageLoop.h"
#include "ui/win32/PreciseTimers.h"
#include "runtime/WideText.h"

#include <commctrl.h>
#include <windows.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string Text(HWND Window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
    return WideToUtf8(text);
}

void SetText(HWND Window, const std::string& Value)
{
    SetWindowTextW(Window, Utf8ToWide(Value).c_str());
}

std::wstring ClassOf(HWND Window)
{
    wchar_t name[64] = {};
    GetClassNameW(Window, name, 64);
    return name;
}

bool Enabled(HWND Window)
{
    return IsWindowEnabled(Window) != FALSE;
}

std::string ReadBytes(const fs::path& File)
{
    std::ifstream in(File, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The program's UTF-8 text as the ANSI code page 1251 writes it.
std::string InCp1251(const std::string& Utf8)
{
    const std::vector<uint8_t> bytes = Utf8ToCp1251(Utf8);
    return std::string(bytes.begin(), bytes.end());
}

// Where a control stands in its parent's client area.
RECT PlaceOf(HWND Control)
{
    RECT rect{};
    GetWindowRect(Control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(Control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// --- message boxes -----------------------------------------------------------

struct TBox {
    std::string Title;
    std::string Text;
    bool HasIcon = false;
};

// Closes every message box of this thread as it appears, remembering what it
// said. A thread timer runs inside the box's own message loop too.
class TBoxCloser {
public:
    TBoxCloser()
    {
        Current = this;
        FTimer = SetTimer(nullptr, 0, 10, Tick);
    }
    ~TBoxCloser()
    {
        KillTimer(nullptr, FTimer);
        Current = nullptr;
    }
    std::vector<TBox> Boxes;

private:
    static inline TBoxCloser* Current = nullptr;

    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (Current) EnumThreadWindows(GetCurrentThreadId(), Found, 0);
    }

    static BOOL CALLBACK Found(HWND Window, LPARAM)
    {
        if (ClassOf(Window) != L"#32770" || !IsWindowVisible(Window) || Current->FSeen.count(Window)) return TRUE;
        Current->FSeen.insert(Window);
        TBox box;
        box.Title = Text(Window);
        for (HWND child = GetWindow(Window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) != L"Static" || !IsWindowVisible(child)) continue;
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                box.HasIcon = box.HasIcon || SendMessageW(child, STM_GETICON, 0, 0) != 0;
            else if (!Text(child).empty())
                box.Text = Text(child);
        }
        Current->Boxes.push_back(box);
        SendMessageW(Window, WM_COMMAND, IDOK, 0);
        return TRUE;
    }

    UINT_PTR FTimer = 0;
    std::set<HWND> FSeen;
};

// --- the window with the device ------------------------------------------------

class Window : public testing::Test {
protected:
    fs::path dir;
    fs::path previous = fs::current_path();
    std::unique_ptr<TWineDevice> device;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TBoxCloser> boxes;
    const TWineTestSetup& setup = WineTestSetup();

    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir = fs::path(temp) / ("actionlog-window-" + std::to_string(GetTickCount64()));
        fs::create_directories(dir);
        fs::current_path(dir);
        boxes = std::make_unique<TBoxCloser>();
        SetExceptionDisplay([this](const std::exception& e) { ShowErrorBox(form ? form->Handle() : nullptr, e.what()); });
    }

    void TearDown() override
    {
        // What the operator was shown, to explain a failure.
        if (HasFailure())
            for (const TBox& box : boxes->Boxes) std::printf("[   BOX    ] %s\n", box.Text.c_str());
        form.reset();
        device.reset();
        SetExceptionDisplay(nullptr);
        boxes.reset();
        fs::current_path(previous);
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    void NeedDevice()
    {
        if (const std::string missing = setup.Missing(); !missing.empty())
            GTEST_SKIP() << "run by tests/win32/run-window-tests.sh; not set:" << missing;
    }

    void StartDevice(std::vector<std::string> Options = {})
    {
        device = std::make_unique<TWineDevice>(Options);
    }

    void WriteSettings(const std::string& Speed = "115200", const std::string& Address = "1")
    {
        std::ofstream("Settings.txt", std::ios::binary) << setup.Port << "\r\n" << Speed << "\r\n" << Address << "\r\n";
    }

    void CreateForm()
    {
        form = std::make_unique<TForm1>();
        RunGuarded([this] { form->FormCreate(); });
        form->Show();
    }

    bool WaitFor(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 10s)
    {
        return PumpMessagesUntil(form ? form->Handle() : nullptr, Done, Timeout);
    }
    void Pump(std::chrono::milliseconds Time)
    {
        WaitFor([] { return false; }, Time);
    }

    // A click as the mouse gives it; a disabled button takes none.
    static void Click(HWND Button)
    {
        ASSERT_TRUE(Enabled(Button)) << Text(Button) << " is disabled";
        SendMessageW(Button, BM_CLICK, 0, 0);
    }

    bool Connected() const { return Enabled(form->Disconnect) && !Enabled(form->Connect); }
    void ConnectAndIdentify()
    {
        Click(form->Connect);
        ASSERT_TRUE(WaitFor([&] { return !Text(form->Count).empty() && Text(form->Count) != "1000"; }));
    }
    bool Downloading() const { return Enabled(form->Stop); }
    void Download()
    {
        Click(form->Start);
        ASSERT_TRUE(WaitFor([&] { return !Downloading(); }, 60s));
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
    // The export file of a device with the default identity, as code page
    // 1251 writes it.
    static std::string ExpectedExport(const std::vector<std::string>& Rows)
    {
        std::string text = "Версия прибора: V2.14\r\nСерийный номер: 20231187\r\n";
        for (const std::string& row : Rows) text += row + "\r\n";
        return InCp1251(text);
    }
    void ExpectSavedLogEqualsDevice()
    {
        form->SaveClick();
        EXPECT_EQ(ReadBytes(L"Журнал_ЛОРНИК_20231187.txt"), ExpectedExport(WholeLog(device->Log())));
    }
    void ExpectBoxes(std::initializer_list<std::pair<bool, const char*>> Expected)
    {
        ASSERT_EQ(boxes->Boxes.size(), Expected.size());
        size_t i = 0;
        for (const auto& [icon, text] : Expected) {
            EXPECT_EQ(boxes->Boxes[i].Title, WideToUtf8(ApplicationTitle()));
            EXPECT_EQ(boxes->Boxes[i].HasIcon, icon) << text;
            EXPECT_EQ(boxes->Boxes[i].Text, text);
            ++i;
        }
    }
};

// --- the window as built ------------------------------------------------------------

struct TExpectedPlace {
    HWND TForm1::*Control;
    const char* Name;
    int Left, Top, Width, Height;
};

// Labels are as wide as their captions, at least as wide as given here.
constexpr TExpectedPlace ExpectedPlaces[] = {
    {&TForm1::Con_setting, "Con_setting", 0, 8, 225, 97},
    {&TForm1::Com_str, "Com_str", 16, 19, 91, 13},
    {&TForm1::Speed_str, "Speed_str", 16, 70, 48, 13},
    {&TForm1::Com, "Com", 113, 16, 97, 21},
    {&TForm1::Speed, "Speed", 113, 67, 97, 21},
    {&TForm1::Adder, "Adder", 113, 42, 97, 21},
    {&TForm1::Label4, "Label4", 16, 45, 31, 13},
    {&TForm1::Disconnect, "Disconnect", 121, 111, 89, 26},
    {&TForm1::Connect, "Connect", 18, 111, 97, 26},
    {&TForm1::Version, "Version", 240, 16, 113, 21},
    {&TForm1::Index, "Index", 328, 48, 81, 21},
    {&TForm1::Count, "Count", 328, 75, 81, 21},
    {&TForm1::Index_str, "Index_str", 240, 51, 37, 13},
    {&TForm1::Count_str, "Count_str", 240, 78, 60, 13},
    {&TForm1::Start, "Start", 240, 111, 75, 25},
    {&TForm1::Stop, "Stop", 334, 111, 75, 25},
    {&TForm1::Arch, "Arch", 16, 172, 505, 289},
    {&TForm1::Serial, "Serial", 359, 16, 88, 21},
    {&TForm1::Version_str, "Version_str", 240, 0, 39, 13},
    {&TForm1::Serial_str, "Serial_str", 359, 0, 88, 13},
    {&TForm1::ProgressBar, "ProgressBar", 16, 149, 246, 17},
    {&TForm1::Save, "Save", 312, 141, 97, 25},
};

void ExpectLayout(const TForm1& Form, int Dpi)
{
    const auto scaled = [Dpi](int Pixels) { return MulDiv(Pixels, Dpi, 96); };
    RECT client{};
    GetClientRect(Form.Handle(), &client);
    EXPECT_EQ(client.right, scaled(TForm1::ClientWidth));
    EXPECT_EQ(client.bottom, scaled(TForm1::ClientHeight));
    for (const TExpectedPlace& place : ExpectedPlaces) {
        const RECT rect = PlaceOf(Form.*place.Control);
        EXPECT_EQ(rect.left, scaled(place.Left)) << place.Name;
        EXPECT_EQ(rect.top, scaled(place.Top)) << place.Name;
        if (ClassOf(Form.*place.Control) == L"Static")
            EXPECT_GE(rect.right - rect.left, scaled(place.Width)) << place.Name;
        else
            EXPECT_EQ(rect.right - rect.left, scaled(place.Width)) << place.Name;
        EXPECT_EQ(rect.bottom - rect.top, scaled(place.Height)) << place.Name;
    }
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Form.Connect, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_EQ(std::wstring(font.lfFaceName), L"Tahoma");
    EXPECT_EQ(font.lfHeight, -MulDiv(8, Dpi, 72)); // 8 pt: 11 pixels at 96 pixels per inch
    // A list opens to show eight entries.
    for (HWND list : {Form.Com, Form.Speed}) {
        RECT open{};
        SendMessageW(list, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&open));
        const auto entry = static_cast<int>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0));
        EXPECT_GE(open.bottom - open.top, 8 * entry);
    }
    EXPECT_EQ(ListView_GetColumnWidth(Form.Arch, 0), scaled(68));
    EXPECT_EQ(ListView_GetColumnWidth(Form.Arch, 1), scaled(414));
}

TEST_F(Window, StartsWithDefaultsWhenThereIsNoSettingsFile)
{
    CreateForm();
    EXPECT_TRUE(fs::exists("Settings.txt"));
    EXPECT_EQ(fs::file_size("Settings.txt"), 0u);
    EXPECT_EQ(form->SpeedText(), "19200");
    EXPECT_EQ(form->SpeedItems(),
              (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(Text(form->Adder), "1");
    EXPECT_EQ(Text(form->Index), "0");
    EXPECT_EQ(Text(form->Count), "1000");
    EXPECT_EQ(form->Cell(0, 0), "Номер");
    EXPECT_EQ(form->Cell(1, 0), "Ответ");
    EXPECT_EQ(form->RowCount(), 2);
    EXPECT_EQ(ListView_GetItemCount(form->Arch), 1);
    EXPECT_TRUE(Enabled(form->Con_setting));
    EXPECT_TRUE(Enabled(form->Connect));
    EXPECT_FALSE(Enabled(form->Disconnect));
    EXPECT_TRUE(Enabled(form->Start));
    EXPECT_FALSE(Enabled(form->Stop));
    EXPECT_FALSE(Enabled(form->Version));
    EXPECT_FALSE(Enabled(form->Serial));
    EXPECT_FALSE(form->Timer1Enabled());
    EXPECT_EQ(Text(form->Handle()), "ЛОРНИК журнал действий пользователя");
    EXPECT_EQ(Text(form->Con_settingFrame), "Настройки связи");
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, EveryControlStandsAtItsPlaceInTahoma8)
{
    CreateForm();
    ASSERT_EQ(form->Dpi(), 96u) << "the virtual display runs at 96 pixels per inch";
    ExpectLayout(*form, 96);

    // A fixed dialog frame with a close button only, and a taskbar button.
    const LONG_PTR style = GetWindowLongPtrW(form->Handle(), GWL_STYLE);
    const LONG_PTR exStyle = GetWindowLongPtrW(form->Handle(), GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), nullptr);
    // Lists restricted to their entries; the grid asks for what it shows.
    for (HWND list : {form->Com, form->Speed})
        EXPECT_EQ(GetWindowLongW(list, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_TRUE(GetWindowLongW(form->Arch, GWL_STYLE) & LVS_OWNERDATA);
    EXPECT_FALSE(GetWindowLongW(form->Arch, GWL_STYLE) & LVS_EDITLABELS);
    // The group's controls are the group's children.
    for (HWND child : {form->Com, form->Speed, form->Adder, form->Com_str, form->Speed_str, form->Label4})
        EXPECT_EQ(GetParent(child), form->Con_setting);
    // The icon is the program's own.
    EXPECT_NE(GetClassLongPtrW(form->Handle(), GCLP_HICON), 0u);
}

TEST_F(Window, ScalesWithThePixelsPerInchOfItsMonitor)
{
    CreateForm();
    // What the system sends when the window moves to a monitor at 144 pixels
    // per inch.
    RECT window{};
    GetWindowRect(form->Handle(), &window);
    SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&window));
    EXPECT_EQ(form->Dpi(), 144u);
    ExpectLayout(*form, 144);
    SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&window));
    ExpectLayout(*form, 96);
}

TEST_F(Window, StartsWithTheRememberedPortSpeedAndAddress)
{
    NeedDevice();
    StartDevice();
    WriteSettings("57600", "17");
    CreateForm();
    const std::vector<std::string> ports = form->ComItems();
    EXPECT_NE(std::find(ports.begin(), ports.end(), setup.Port), ports.end()) << "the port list comes from the registry";
    EXPECT_EQ(form->ComText(), setup.Port);
    EXPECT_EQ(form->SpeedText(), "57600");
    EXPECT_EQ(Text(form->Adder), "17");
}

// Keys as the keyboard delivers them to the focused control, through the
// window's message loop.
void PressKey(HWND Control, WPARAM Key)
{
    SetFocus(Control);
    PostMessageW(Control, WM_KEYDOWN, Key, 1);
    if (Key == VK_RETURN || Key == VK_ESCAPE) PostMessageW(Control, WM_CHAR, Key, 1);
    PostMessageW(Control, WM_KEYUP, Key, 0xC0000001);
}

TEST_F(Window, EnterAndEscClickNothingAndTabFollowsTheTabOrder)
{
    CreateForm();
    SetText(form->Adder, "1");
    for (HWND control : {form->Connect, form->Start, form->Save, form->Adder, form->Index}) {
        PressKey(control, VK_RETURN);
        PressKey(control, VK_ESCAPE);
        Pump(50ms);
    }
    EXPECT_TRUE(Enabled(form->Connect));
    EXPECT_TRUE(Enabled(form->Start));
    EXPECT_EQ(fs::file_size("Settings.txt"), 0u); // no connect wrote it
    EXPECT_FALSE(fs::exists(L"Журнал_ЛОРНИК_.txt")); // no save
    EXPECT_TRUE(boxes->Boxes.empty());

    // Com, Speed, Adder, then Connect (Disconnect is disabled), Index,
    // Count, Start (Stop is disabled), the grid and Save, and round again.
    const HWND order[] = {form->Com, form->Speed, form->Adder, form->Connect, form->Index,
                          form->Count, form->Start, form->Arch, form->Save, form->Com};
    SetFocus(order[0]);
    for (size_t i = 1; i < std::size(order); ++i) {
        PressKey(GetFocus(), VK_TAB);
        Pump(20ms);
        EXPECT_EQ(GetFocus(), order[i]) << "after " << i << " tabs";
    }
}

TEST_F(Window, TheGridHoldsAWholeLogOf65535Records)
{
    CreateForm();
    for (int32_t row = 1; row <= 65535; ++row) {
        form->SetCell(0, row, std::to_string(row));
        form->SetCell(1, row, "запись " + std::to_string(row));
        form->SetRowCount(row + 2);
    }
    EXPECT_EQ(ListView_GetItemCount(form->Arch), 1); // shown at the next refresh
    Pump(100ms);
    EXPECT_EQ(ListView_GetItemCount(form->Arch), 65536); // the records and one empty row
    // The list view asks the window for what it shows, also far down.
    wchar_t text[64] = {};
    ListView_GetItemText(form->Arch, 65534, 1, text, 64);
    EXPECT_EQ(WideToUtf8(text), "запись 65535");
    ListView_EnsureVisible(form->Arch, 65534, FALSE);
    Pump(50ms);
    EXPECT_GT(ListView_GetTopIndex(form->Arch), 65000);

    // Lowering the row count hides rows and keeps their texts.
    form->SetRowCount(2);
    form->RefreshGrid();
    EXPECT_EQ(ListView_GetItemCount(form->Arch), 1);
    EXPECT_EQ(form->Cell(1, 40000), "запись 40000");
}

// --- a whole download ----------------------------------------------------------

TEST_F(Window, ConnectStartAndSaveFetchTheWholeLog)
{
    NeedDevice();
    ASSERT_EQ(GetACP(), 1251u) << "run as a Russian Windows (LANG=ru_RU.UTF-8)";
    StartDevice({"--records", "40"});
    WriteSettings();
    CreateForm();
    Click(form->Connect);
    EXPECT_TRUE(Connected());
    // The group box disables its controls with it.
    for (HWND control : {form->Con_setting, form->Com, form->Speed, form->Adder}) EXPECT_FALSE(Enabled(control));
    EXPECT_TRUE(form->Timer1Enabled());
    ASSERT_TRUE(WaitFor([&] { return Text(form->Count) == "40"; }));
    EXPECT_EQ(Text(form->Version), "V2.14");
    EXPECT_EQ(Text(form->Serial), "20231187");
    EXPECT_EQ(Text(form->Index), "39");
    EXPECT_FALSE(form->Timer1Enabled());

    Download();
    const auto log = device->Log();
    ASSERT_EQ(log.size(), 40u);
    EXPECT_EQ(Grid(), WholeLog(log));
    form->RefreshGrid();
    EXPECT_EQ(ListView_GetItemCount(form->Arch), 41);
    EXPECT_EQ(form->ProgressPosition(), 40);
    EXPECT_EQ(SendMessageW(form->ProgressBar, PBM_GETPOS, 0, 0), SendMessageW(form->ProgressBar, PBM_GETRANGE, FALSE, 0));
    EXPECT_TRUE(Enabled(form->Start));
    EXPECT_FALSE(Enabled(form->Stop));

    Click(form->Save);
    EXPECT_EQ(ReadBytes(L"Журнал_ЛОРНИК_20231187.txt"), ExpectedExport(WholeLog(log)));
    EXPECT_EQ(ReadBytes("Settings.txt"), setup.Port + "\r\n115200\r\n1\r\n");

    Click(form->Disconnect);
    for (HWND control : {form->Con_setting, form->Com, form->Speed, form->Adder}) EXPECT_TRUE(Enabled(control));
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, RangeStopReconnectAndExceptionAnswer)
{
    NeedDevice();
    StartDevice({"--records", "150"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    const auto log = device->Log();

    SetText(form->Index, "99");
    SetText(form->Count, "10");
    Download();
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) expected.push_back(std::to_string(i + 1) + " " + log[static_cast<size_t>(99 - i)]);
    expected.push_back(" ");
    EXPECT_EQ(Grid(), expected);
    EXPECT_EQ(form->ProgressPosition(), 10);

    Click(form->Disconnect);
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_TRUE(Enabled(form->Connect));
    ConnectAndIdentify();
    EXPECT_TRUE(Connected());

    // The device lacks index 150: the tool asks for the start index plus one
    // again and again, until Stop.
    SetText(form->Index, "150");
    SetText(form->Count, "3");
    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->ProgressPosition() == 3; }));
    Click(form->Stop);
    EXPECT_TRUE(Enabled(form->Start));
    Pump(200ms);
    EXPECT_TRUE(Enabled(form->Start));
    EXPECT_FALSE(Enabled(form->Stop));
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, StopMidDownloadKeepsWhatCameAndClosingTheWindowClosesThePort)
{
    NeedDevice();
    StartDevice({"--records", "200", "--pace", "--delay-ms", "5"});
    WriteSettings("19200");
    CreateForm();
    ConnectAndIdentify();
    const auto log = device->Log();
    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->RowCount() > 6; }));
    Click(form->Stop);
    Pump(300ms);
    const auto grid = Grid();
    ASSERT_LT(grid.size(), 100u);
    for (size_t row = 1; row < grid.size(); ++row)
        EXPECT_EQ(grid[row - 1], std::to_string(row) + " " + log[200 - row]);
    EXPECT_TRUE(Enabled(form->Start));

    Click(form->Start);
    ASSERT_TRUE(WaitFor([&] { return form->RowCount() > 4; }));
    SendMessageW(form->Handle(), WM_CLOSE, 0, 0); // mid-download, without a question
    EXPECT_FALSE(IsWindow(form->Handle()));
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_TRUE(boxes->Boxes.empty());
}

// --- what the operator is told -------------------------------------------------

TEST_F(Window, DeviceThatNeverAnswers)
{
    NeedDevice();
    StartDevice({"--address", "5"});
    WriteSettings();
    CreateForm();
    Click(form->Connect);
    EXPECT_TRUE(form->Timer1Enabled());
    ASSERT_TRUE(WaitFor([&] { return !boxes->Boxes.empty(); }, 5s));
    ExpectBoxes({{false, "Прибор не отвечает"}});
    EXPECT_FALSE(form->ComPort1.Connected());
    EXPECT_FALSE(form->Timer1Enabled());
    EXPECT_TRUE(Enabled(form->Connect));
    EXPECT_FALSE(Enabled(form->Disconnect));
    EXPECT_TRUE(Enabled(form->Con_setting));
    EXPECT_TRUE(Enabled(form->Com));
}

TEST_F(Window, RefusalsAreShownWithTheirMessages)
{
    NeedDevice();
    StartDevice();
    WriteSettings();
    CreateForm();

    Click(form->Start); // not connected
    EXPECT_TRUE(Enabled(form->Stop));
    Click(form->Stop);

    SetText(form->Adder, "abc");
    Click(form->Connect);
    EXPECT_TRUE(Connected());
    Click(form->Disconnect);

    SetText(form->Adder, "1");
    SetText(form->Index, "1x");
    Click(form->Start);
    EXPECT_TRUE(Enabled(form->Start));

    // A port that is not there.
    SendMessageW(form->Com, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"COM99"));
    SendMessageW(form->Com, CB_SETCURSEL, SendMessageW(form->Com, CB_GETCOUNT, 0, 0) - 1, 0);
    Click(form->Connect);
    EXPECT_TRUE(Enabled(form->Connect));

    // A message ending in a letter gets a full stop, one ending in ")" none.
    ExpectBoxes({{true, "Port Not Open."},
                 {true, "'abc' is not a valid integer value."},
                 {true, "'1x' is not a valid integer value."},
                 {true, "Unable to open com port (Error: 2)"}});
    if (UnderWine())
        std::printf("[   NOTE   ] a port another program holds (error 5) is not shown: wine does not refuse a "
                    "second open of a COM port\n");
}

TEST_F(Window, ErrorsFromOutsideAHandlerAreShownOnceTheEventIsDone)
{
    CreateForm();
    SetFocus(form->Index);
    form->PostError("Read Error (Error: 995)");
    EXPECT_TRUE(boxes->Boxes.empty());
    ASSERT_TRUE(WaitFor([&] { return !boxes->Boxes.empty(); }, 2s));
    ExpectBoxes({{true, "Read Error (Error: 995)"}});
    // The operator's place is kept.
    Pump(100ms);
    EXPECT_EQ(GetFocus(), form->Index);
}

// --- faults of the line ----------------------------------------------------

TEST_F(Window, LongRecordsAtTheSlowestSpeedComeWhole)
{
    NeedDevice();
    StartDevice({"--records", "2", "--min-length", "250", "--max-length", "250", "--pace"});
    WriteSettings("1200");
    CreateForm();
    ConnectAndIdentify();
    Download();
    const auto log = device->Log();
    EXPECT_EQ(Grid(), WholeLog(log));
    EXPECT_EQ(form->Cell(1, 1).size(), log[1].size());
}

TEST_F(Window, SplitDroppedAndCorruptedAnswersLeaveTheLogExact)
{
    NeedDevice();
    StartDevice({"--records", "12", "--split-gap-ms", "40", "--drop-every", "5", "--corrupt-every", "7"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    Download();
    ExpectSavedLogEqualsDevice();
    EXPECT_TRUE(boxes->Boxes.empty());
}

TEST_F(Window, LateAnswersAreNeverTakenForTheNextRecord)
{
    NeedDevice();
    // Later than the tool's answer time-out: each arrives while the request
    // is being sent again, and the answer to the second copy follows it.
    StartDevice({"--records", "8", "--late-every", "3", "--late-ms", "1300"});
    WriteSettings();
    CreateForm();
    ConnectAndIdentify();
    Download();
    ExpectSavedLogEqualsDevice();
    EXPECT_TRUE(boxes->Boxes.empty());
}

// --- pieces of the window -----------------------------------------------------

TEST(WindowParts, GridCellsAreKeptApartFromTheRowCount)
{
    TGridCells grid;
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_TRUE(grid.SetCell(1, 5, "ahead")); // beyond the row count
    EXPECT_EQ(grid.Cell(1, 5), "ahead");
    EXPECT_FALSE(grid.SetCell(1, 5, "ahead")); // unchanged
    EXPECT_FALSE(grid.SetCell(0, 9, ""));     // an empty cell needs nothing
    grid.SetRowCount(10);
    grid.SetRowCount(2);
    EXPECT_EQ(grid.Cell(1, 5), "ahead"); // hidden, not lost
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 1); // the header stays
    for (auto [col, row] : {std::pair{-1, 1}, {2, 1}, {0, -1}}) {
        EXPECT_FALSE(grid.SetCell(col, row, "x"));
        EXPECT_EQ(grid.Cell(col, row), "");
    }
}

TEST(WindowParts, MessageTextsAndTheApplicationTitle)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Port Not Open", "Port Not Open."},
        {"Unable to open com port (Error: 5)", "Unable to open com port (Error: 5)"},
        {"File access denied", "File access denied."},
        {"Done.", "Done."},
        {"Прибор не отвечает", "Прибор не отвечает."},
        {"I/O error 32", "I/O error 32."},
        {"", ""},
        {"a,", "a,"},
    };
    for (const auto& [message, shown] : cases) EXPECT_EQ(WithFullStop(message), shown) << message;
    // This program is window_tests.exe: the first letter stays as it is.
    EXPECT_EQ(ApplicationTitle(), L"window_tests");
}

class PreciseTimersTest : public testing::Test {
protected:
    static constexpr UINT Message = WM_APP + 7;
    HWND target = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    TPreciseTimers timers{target, Message, 2};

    ~PreciseTimersTest() override { DestroyWindow(target); }

    // The timers whose messages still stand, in the order they came.
    std::vector<size_t> Fired(std::chrono::milliseconds Within)
    {
        std::vector<size_t> fired;
        const auto deadline = std::chrono::steady_clock::now() + Within;
        MSG msg;
        while (std::chrono::steady_clock::now() < deadline) {
            while (PeekMessageW(&msg, target, Message, Message, PM_REMOVE))
                if (timers.Take(msg.wParam, msg.lParam)) fired.push_back(msg.wParam);
            Sleep(1);
        }
        return fired;
    }
};

TEST_F(PreciseTimersTest, FireOnceAndOnlyForTheirLatestStart)
{
    timers.Start(0, 5ms);
    timers.Start(1, 20ms);
    EXPECT_TRUE(timers.Active(0));
    EXPECT_EQ(Fired(300ms), (std::vector<size_t>{0, 1}));
    EXPECT_FALSE(timers.Active(0));
    EXPECT_TRUE(Fired(50ms).empty()); // single shot

    timers.Start(0, 1ms);
    Sleep(30); // its message is posted, not yet taken
    timers.Start(0, 60ms); // a start before the message is handled replaces it
    EXPECT_TRUE(Fired(20ms).empty());
    EXPECT_EQ(Fired(300ms), (std::vector<size_t>{0}));

    timers.Start(1, 1ms);
    Sleep(30);
    timers.Stop(1); // the posted message no longer stands
    EXPECT_TRUE(Fired(100ms).empty());
    EXPECT_FALSE(timers.Take(5, 0)); // no such timer
}

} // namespace

int main(int argc, char** argv)
{
    TMessageLoopHandOver handOver;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

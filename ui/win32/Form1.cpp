#include "ui/win32/Form1.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "runtime/ExceptionDisplay.h"
#include "runtime/Exceptions.h"
#include "ui/win32/MessageBoxes.h"
#include "runtime/WideText.h"

namespace {

constexpr wchar_t FormClass[] = L"TForm1";
constexpr wchar_t GroupClass[] = L"TGroupBox";
constexpr wchar_t Caption[] = L"ЛОРНИК журнал действий пользователя";
constexpr const char* SpeedEntries[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};

constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;

constexpr UINT_PTR Timer1Id = 1;
constexpr UINT_PTR GridTimerId = 2;
// The grid shows new rows and texts at most this often: a list view that
// is told of every record one by one costs more than the record itself.
constexpr UINT GridRefreshInterval = 50;
constexpr UINT WM_EXCHANGE_TIMER = WM_APP + 1;
constexpr UINT WM_POSTED_ERROR = WM_APP + 2;

constexpr int GridRowHeight = 24;
constexpr int GridColumnWidths[] = {68, 414};
constexpr int ListVisibleEntries = 8;

// Control ids; 1 and 2 are what the dialog manager sends for Enter and Esc,
// so no control has them.
enum TControlId : int {
    idCon_setting = 100,
    idCon_settingFrame,
    idCom_str,
    idSpeed_str,
    idCom,
    idSpeed,
    idAdder,
    idLabel4,
    idDisconnect,
    idConnect,
    idVersion,
    idIndex,
    idCount,
    idIndex_str,
    idCount_str,
    idStart,
    idStop,
    idArch,
    idSerial,
    idVersion_str,
    idSerial_str,
    idProgressBar,
    idSave,
};

enum class TKind { Group, Frame, Label, List, Edit, DisplayEdit, Button, Grid, Progress };

// Every control: where it stands at 96 pixels per inch, in the window's
// client area or, for the group's controls, in the group's. A label is as
// wide as its caption, at least as wide as given. Creation order is the tab
// order.
struct TPlace {
    HWND TForm1::*Control;
    TControlId Id;
    TKind Kind;
    bool InGroup;
    int Left, Top, Width, Height;
    const wchar_t* Text;
};

constexpr TPlace Places[] = {
    {&TForm1::Con_setting, idCon_setting, TKind::Group, false, 0, 8, 225, 97, L""},
    {&TForm1::Con_settingFrame, idCon_settingFrame, TKind::Frame, true, 0, 0, 225, 97, L"Настройки связи"},
    {&TForm1::Com_str, idCom_str, TKind::Label, true, 16, 19, 91, 13, L"Номер COM-порта"},
    {&TForm1::Speed_str, idSpeed_str, TKind::Label, true, 16, 70, 48, 13, L"Скорость"},
    {&TForm1::Com, idCom, TKind::List, true, 113, 16, 97, 21, L""},
    {&TForm1::Speed, idSpeed, TKind::List, true, 113, 67, 97, 21, L""},
    {&TForm1::Adder, idAdder, TKind::Edit, true, 113, 42, 97, 21, L""},
    {&TForm1::Label4, idLabel4, TKind::Label, true, 16, 45, 31, 13, L"Адрес"},
    {&TForm1::Disconnect, idDisconnect, TKind::Button, false, 121, 111, 89, 26, L"Отключение"},
    {&TForm1::Connect, idConnect, TKind::Button, false, 18, 111, 97, 26, L"Подключение"},
    {&TForm1::Version, idVersion, TKind::DisplayEdit, false, 240, 16, 113, 21, L""},
    {&TForm1::Index, idIndex, TKind::Edit, false, 328, 48, 81, 21, L""},
    {&TForm1::Count, idCount, TKind::Edit, false, 328, 75, 81, 21, L""},
    {&TForm1::Index_str, idIndex_str, TKind::Label, false, 240, 51, 37, 13, L"Индекс"},
    {&TForm1::Count_str, idCount_str, TKind::Label, false, 240, 78, 60, 13, L"Количество"},
    {&TForm1::Start, idStart, TKind::Button, false, 240, 111, 75, 25, L"Старт"},
    {&TForm1::Stop, idStop, TKind::Button, false, 334, 111, 75, 25, L"Стоп"},
    {&TForm1::Arch, idArch, TKind::Grid, false, 16, 172, 505, 289, L""},
    {&TForm1::Serial, idSerial, TKind::DisplayEdit, false, 359, 16, 88, 21, L""},
    {&TForm1::Version_str, idVersion_str, TKind::Label, false, 240, 0, 39, 13, L"Версия:"},
    {&TForm1::Serial_str, idSerial_str, TKind::Label, false, 359, 0, 88, 13, L"Серийный номер:"},
    {&TForm1::ProgressBar, idProgressBar, TKind::Progress, false, 16, 149, 246, 17, L""},
    {&TForm1::Save, idSave, TKind::Button, false, 312, 141, 97, 25, L"Сохранить"},
};

// The per-monitor functions came with Windows 10 1607; before that the
// system's one setting holds.
UINT DpiOf(HWND Window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(Window)) return dpi;
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

std::wstring WindowText(HWND Window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::string ListEntry(HWND List, LRESULT Index)
{
    const LRESULT length = SendMessageW(List, CB_GETLBTEXTLEN, static_cast<WPARAM>(Index), 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(List, CB_GETLBTEXT, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length));
    return WideToUtf8(text);
}

std::vector<std::string> ListEntries(HWND List)
{
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(List, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) entries.push_back(ListEntry(List, i));
    return entries;
}

std::string SelectedEntry(HWND List)
{
    const LRESULT selected = SendMessageW(List, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? std::string() : ListEntry(List, selected);
}

void RegisterClasses(HINSTANCE Instance, WNDPROC FormProc, WNDPROC GroupProc)
{
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = FormProc;
    form.hInstance = Instance;
    form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = FormClass;
    form.hIcon = static_cast<HICON>(LoadImageW(Instance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                               GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    form.hIconSm = static_cast<HICON>(LoadImageW(Instance, L"MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    RegisterClassExW(&form); // a second window finds the class registered

    WNDCLASSEXW group{};
    group.cbSize = sizeof group;
    group.lpfnWndProc = GroupProc;
    group.hInstance = Instance;
    group.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    group.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    group.lpszClassName = GroupClass;
    RegisterClassExW(&group);
}

// The grid's header row is as high as its other rows, and its columns
// cannot be resized: the dividers take no mouse.
LRESULT CALLBACK HeaderProc(HWND Header, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR, DWORD_PTR Data)
{
    const auto* form = reinterpret_cast<const TForm1*>(Data);
    switch (Message) {
    case HDM_LAYOUT: {
        auto* layout = reinterpret_cast<HDLAYOUT*>(LParam);
        const int top = layout->prc->top;
        const LRESULT result = DefSubclassProc(Header, Message, WParam, LParam);
        const int height = MulDiv(GridRowHeight, static_cast<int>(form->Dpi()), 96);
        layout->pwpos->cy = height;
        layout->prc->top = top + height;
        return result;
    }
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        HDHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(LParam)), static_cast<short>(HIWORD(LParam))};
        SendMessageW(Header, HDM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.flags & (HHT_ONDIVIDER | HHT_ONDIVOPEN)) return 0;
        break;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(Header, HeaderProc, 1);
        break;
    }
    return DefSubclassProc(Header, Message, WParam, LParam);
}

} // namespace

void TForm1::TImageListDeleter::operator()(HIMAGELIST List) const
{
    ImageList_Destroy(List);
}

TForm1::TForm1()
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterClasses(instance, WindowProc, GroupProc);
    FHandle = CreateWindowExW(FormExStyle, FormClass, Caption, FormStyle, CW_USEDEFAULT, CW_USEDEFAULT, ClientWidth,
                              ClientHeight, nullptr, nullptr, instance, this);
    if (!FHandle) throw Exception("Cannot create the window (Error: " + std::to_string(GetLastError()) + ")");
    // Sizing, Minimize and Maximize have no place in a fixed dialog frame.
    if (const HMENU menu = GetSystemMenu(FHandle, FALSE)) {
        for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE}) DeleteMenu(menu, command, MF_BYCOMMAND);
    }
    try {
        FExchangeTimers = std::make_unique<TPreciseTimers>(FHandle, WM_EXCHANGE_TIMER, 2);
        BuildControls();
        WirePort();
    } catch (...) {
        // No window may outlive the object its messages reach.
        DestroyWindow(FHandle);
        throw;
    }
}

TForm1::~TForm1()
{
    // The port's handlers reach the controller, which goes before the port.
    ComPort1.OnRxChar = nullptr;
    RunGuarded([this] { ComPort1.Close(); });
    FExchangeTimers.reset();
    if (FHandle) {
        KillTimer(FHandle, Timer1Id);
        DestroyWindow(FHandle);
    }
}

void TForm1::BuildControls()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const TPlace& place : Places) {
        const HWND parent = place.InGroup ? Con_setting : FHandle;
        const auto id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(place.Id));
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        const wchar_t* windowClass = WC_STATICW;
        switch (place.Kind) {
        case TKind::Group:
            windowClass = GroupClass;
            style |= WS_CLIPSIBLINGS;
            exStyle = WS_EX_CONTROLPARENT;
            break;
        case TKind::Frame:
            windowClass = WC_BUTTONW;
            style |= BS_GROUPBOX;
            break;
        case TKind::Label:
            style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
            break;
        case TKind::List:
            windowClass = WC_COMBOBOXW;
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
            break;
        case TKind::Edit:
            windowClass = WC_EDITW;
            style |= WS_TABSTOP | ES_AUTOHSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case TKind::DisplayEdit:
            windowClass = WC_EDITW;
            style |= WS_TABSTOP | ES_AUTOHSCROLL | WS_DISABLED;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case TKind::Button:
            windowClass = WC_BUTTONW;
            style |= WS_TABSTOP | BS_PUSHBUTTON; // never the default button
            break;
        case TKind::Grid:
            windowClass = WC_LISTVIEWW;
            style |= WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case TKind::Progress:
            windowClass = PROGRESS_CLASSW;
            break;
        }
        const HWND control = CreateWindowExW(exStyle, windowClass, place.Text, style, place.Left, place.Top,
                                             place.Width, place.Height, parent, id, instance, nullptr);
        if (!control) throw Exception("Cannot create the window's controls (Error: " + std::to_string(GetLastError()) + ")");
        this->*place.Control = control;
        if (place.Kind == TKind::Edit) SendMessageW(control, EM_SETLIMITTEXT, 0, 0); // any text of any length
    }

    for (const char* entry : SpeedEntries)
        SendMessageW(Speed, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(entry).c_str()));
    SendMessageW(Speed, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    for (HWND list : {Com, Speed}) SendMessageW(list, CB_SETMINVISIBLE, ListVisibleEntries, 0);

    ListView_SetExtendedListViewStyle(Arch, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    for (int col = 0; col < TGridCells::Columns; ++col) {
        LVCOLUMNW column{};
        column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_FMT;
        column.fmt = LVCFMT_LEFT;
        column.cx = GridColumnWidths[col];
        column.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertColumn(Arch, col, &column);
    }
    ListView_SetItemCountEx(Arch, FGrid.RowCount() - 1, LVSICF_NOSCROLL);
    SetWindowSubclass(ListView_GetHeader(Arch), HeaderProc, 1, reinterpret_cast<DWORD_PTR>(this));

    ShowProgress();
    ApplyDpi(DpiOf(FHandle));
}

void TForm1::ApplyDpi(UINT NewDpi)
{
    FDpi = NewDpi;
    // Tahoma 8 pt: 11 pixels at 96 pixels per inch.
    FFont.reset(CreateFontW(-MulDiv(8, static_cast<int>(FDpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    const HDC dc = GetDC(FHandle);
    const HGDIOBJ previous = SelectObject(dc, FFont.get());
    for (const TPlace& place : Places) {
        const HWND control = this->*place.Control;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.get()), FALSE);
        int width = Scaled(place.Width);
        int height = Scaled(place.Height);
        if (place.Kind == TKind::Label) {
            // As wide as the caption.
            const std::wstring text = WindowText(control);
            RECT extent{};
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
            width = std::max(width, static_cast<int>(extent.right - extent.left));
        } else if (place.Kind == TKind::List) {
            // The closed list is the given height; the window's own height is
            // that of the open list.
            const LRESULT field = SendMessageW(control, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
            const LRESULT entry = SendMessageW(control, CB_GETITEMHEIGHT, 0, 0);
            const int frame = field > 0 ? 6 : 0;
            if (field > 0) SendMessageW(control, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(1, height - frame));
            height += ListVisibleEntries * static_cast<int>(entry > 0 ? entry : height) + 2;
        }
        SetWindowPos(control, nullptr, Scaled(place.Left), Scaled(place.Top), width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SelectObject(dc, previous);
    ReleaseDC(FHandle, dc);

    // Rows 24 pixels high: a list view row is as high as its row images.
    FRowHeight.reset(ImageList_Create(1, std::max(1, Scaled(GridRowHeight) - 1), ILC_COLOR32, 0, 1));
    ListView_SetImageList(Arch, FRowHeight.get(), LVSIL_SMALL);
    for (int col = 0; col < TGridCells::Columns; ++col) ListView_SetColumnWidth(Arch, col, Scaled(GridColumnWidths[col]));
    // The header takes its height again.
    SetWindowPos(Arch, nullptr, 0, 0, Scaled(505), Scaled(289), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE | SWP_FRAMECHANGED);

    // The frame as the system draws it at this moment, around the client
    // area the controls need.
    RECT window{};
    RECT client{};
    GetWindowRect(FHandle, &window);
    GetClientRect(FHandle, &client);
    const int frameWidth = (window.right - window.left) - client.right;
    const int frameHeight = (window.bottom - window.top) - client.bottom;
    SetWindowPos(FHandle, nullptr, 0, 0, Scaled(ClientWidth) + frameWidth, Scaled(ClientHeight) + frameHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TForm1::WirePort()
{
    // The port as the window stores it: its own defaults but for the
    // receive handler. An exception from that handler goes back through its
    // hand-over to the port's event thread, as the port expects.
    ConfigureComPort(ComPort1);
    ComPort1.OnRxChar = [this](TObject& Sender, int32_t Count) { ComPort1RxChar(Sender, Count); };
}

void TForm1::Show(int ShowCommand)
{
    ShowWindow(FHandle, ShowCommand);
    UpdateWindow(FHandle);
    if (const HWND first = GetNextDlgTabItem(FHandle, nullptr, FALSE)) SetFocus(first);
}

void TForm1::FormCreate()
{
    SetWindowTextW(Index, L"0");
    SetWindowTextW(Count, L"1000");
    SetCell(0, 0, "Номер");
    SetCell(1, 0, "Ответ");
    ReadConnectionSettings(*this);
    EnableWindow(Disconnect, FALSE);
    EnableWindow(Connect, TRUE);
    EnableWindow(Stop, FALSE);
    EnableWindow(Start, TRUE);
}

void TForm1::FormClose()
{
    ComPort1.Close();
}

void TForm1::ConnectClick() { FController.ConnectClick(); }
void TForm1::DisconnectClick() { FController.DisconnectClick(); }
void TForm1::StartClick() { FController.StartClick(); }
void TForm1::StopClick() { FController.StopClick(); }
void TForm1::Timer1Timer() { FController.Timer1Timer(); }
void TForm1::ComPort1RxChar(TObject&, int32_t Count) { FController.ComPort1RxChar(Count); }
void TForm1::SaveClick() { SaveLog(*this); }

// --- messages ------------------------------------------------------------------

LRESULT CALLBACK TForm1::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
        form->FHandle = Window;
        SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(Window, Message, WParam, LParam);
    if (Message == WM_NCDESTROY) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        form->FHandle = nullptr;
        return DefWindowProcW(Window, Message, WParam, LParam);
    }
    try {
        return form->HandleMessage(Message, WParam, LParam);
    } catch (const std::exception& e) {
        // Nothing is thrown across the system's code.
        ShowException(e);
        return 0;
    } catch (...) {
        return 0;
    }
}

// The group passes its controls' notifications and colour questions on to
// the window, as if they were the window's own controls.
LRESULT CALLBACK TForm1::GroupProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    switch (Message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        return SendMessageW(GetParent(Window), Message, WParam, LParam);
    default:
        return DefWindowProcW(Window, Message, WParam, LParam);
    }
}

LRESULT TForm1::HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam)
{
    switch (Message) {
    case WM_COMMAND:
        Command(LOWORD(WParam), HIWORD(WParam), reinterpret_cast<HWND>(LParam));
        return 0;
    case WM_NOTIFY:
        return Notify(*reinterpret_cast<NMHDR*>(LParam));
    case WM_TIMER:
        if (WParam == Timer1Id && FTimer1Enabled) RunGuarded([this] { Timer1Timer(); });
        if (WParam == GridTimerId) RefreshGrid();
        return 0;
    case WM_EXCHANGE_TIMER:
        if (FExchangeTimers && FExchangeTimers->Take(WParam, LParam)) {
            if (WParam == static_cast<WPARAM>(TExchangeTimer::etSilence))
                RunGuarded([this] { FController.SilenceTimerTimer(); });
            else
                RunGuarded([this] { FController.AnswerTimerTimer(); });
        }
        return 0;
    case WM_POSTED_ERROR:
        if (!FPostedErrors.empty()) {
            const std::string message = std::move(FPostedErrors.front());
            FPostedErrors.pop_front();
            ShowErrorBox(FHandle, message);
        }
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto dc = reinterpret_cast<HDC>(WParam);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, GetSysColor(IsWindowEnabled(reinterpret_cast<HWND>(LParam)) ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(LParam);
        SetWindowPos(FHandle, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
        ApplyDpi(HIWORD(WParam));
        return 0;
    }
    case WM_ACTIVATE:
        // The focused control gets the focus back when the window does,
        // after a message box for one.
        if (LOWORD(WParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus && IsChild(FHandle, focus)) FFocused = focus;
        } else if (FFocused && IsWindow(FFocused) && IsWindowEnabled(FFocused)) {
            SetFocus(FFocused);
            return 0;
        }
        return DefWindowProcW(FHandle, Message, WParam, LParam);
    case WM_CLOSE:
        // The close cannot be refused.
        RunGuarded([this] { FormClose(); });
        DestroyWindow(FHandle);
        return 0;
    case WM_DESTROY:
        KillTimer(FHandle, Timer1Id);
        FTimer1Enabled = false;
        if (QuitWhenClosed) PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(FHandle, Message, WParam, LParam);
    }
}

void TForm1::Command(WORD Id, WORD Code, HWND Control)
{
    if (Code != BN_CLICKED || !Control) return;
    switch (Id) {
    case idConnect: RunGuarded([this] { ConnectClick(); }); break;
    case idDisconnect: RunGuarded([this] { DisconnectClick(); }); break;
    case idStart: RunGuarded([this] { StartClick(); }); break;
    case idStop: RunGuarded([this] { StopClick(); }); break;
    case idSave: RunGuarded([this] { SaveClick(); }); break;
    default: break; // Enter and Esc arrive as ids 1 and 2 and click nothing
    }
}

LRESULT TForm1::Notify(NMHDR& Header)
{
    if (Header.hwndFrom == Arch && Header.code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(Header).item;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
            FCellText = Utf8ToWide(FGrid.Cell(item.iSubItem, item.iItem + 1));
            lstrcpynW(item.pszText, FCellText.c_str(), item.cchTextMax);
        }
        if (item.mask & LVIF_IMAGE) item.iImage = I_IMAGENONE;
        return 0;
    }
    return 0;
}

// --- the controller's window operations --------------------------------------

void TForm1::SetControlEnabled(TWindowControl Control, bool Enabled)
{
    const BOOL enable = Enabled ? TRUE : FALSE;
    switch (Control) {
    case TWindowControl::Con_setting:
        // The group's controls go with it, and show it.
        EnableWindow(Con_setting, enable);
        for (HWND child = GetWindow(Con_setting, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            EnableWindow(child, enable);
        break;
    case TWindowControl::Connect: EnableWindow(Connect, enable); break;
    case TWindowControl::Disconnect: EnableWindow(Disconnect, enable); break;
    case TWindowControl::Start: EnableWindow(Start, enable); break;
    case TWindowControl::Stop: EnableWindow(Stop, enable); break;
    }
}

HWND TForm1::EditBox(TEditBox Box) const
{
    switch (Box) {
    case TEditBox::Adder: return Adder;
    case TEditBox::Version: return Version;
    case TEditBox::Serial: return Serial;
    case TEditBox::Index: return Index;
    case TEditBox::Count: return Count;
    }
    return Adder;
}

std::string TForm1::EditText(TEditBox Box) const
{
    return WideToUtf8(WindowText(EditBox(Box)));
}

void TForm1::SetEditText(TEditBox Box, const std::string& Text)
{
    SetWindowTextW(EditBox(Box), Utf8ToWide(Text).c_str());
}

std::string TForm1::SelectedText(TDropDown List) const
{
    return List == TDropDown::Com ? ComText() : SpeedText();
}

void TForm1::UpdateHeaderText(int32_t Col)
{
    std::wstring text = Utf8ToWide(FGrid.Cell(Col, 0));
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT;
    column.pszText = text.data();
    ListView_SetColumn(Arch, Col, &column);
}

void TForm1::SetCell(int32_t Col, int32_t Row, const std::string& Text)
{
    if (!FGrid.SetCell(Col, Row, Text)) return;
    if (Row == 0)
        UpdateHeaderText(Col);
    else if (Row < FGrid.RowCount())
        GridChanged();
}

void TForm1::SetRowCount(int32_t Rows)
{
    const int32_t before = FGrid.RowCount();
    FGrid.SetRowCount(Rows);
    if (FGrid.RowCount() != before) GridChanged();
}

void TForm1::GridChanged()
{
    if (FGridChanged) return;
    FGridChanged = true;
    SetTimer(FHandle, GridTimerId, GridRefreshInterval, nullptr);
}

void TForm1::RefreshGrid()
{
    KillTimer(FHandle, GridTimerId);
    if (!FGridChanged) return;
    FGridChanged = false;
    const int32_t items = FGrid.RowCount() - 1;
    if (ListView_GetItemCount(Arch) != items) ListView_SetItemCountEx(Arch, items, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    InvalidateRect(Arch, nullptr, FALSE);
}

std::string TForm1::Cell(int32_t Col, int32_t Row) const
{
    return FGrid.Cell(Col, Row);
}

void TForm1::SetProgressMax(int32_t Max)
{
    if (Max < 0) throw Exception("TProgressBar property out of range");
    FProgressMax = Max;
    FProgressPosition = std::min(FProgressPosition, Max);
    ShowProgress();
}

void TForm1::SetProgressPosition(int32_t Position)
{
    FProgressPosition = std::clamp(Position, 0, FProgressMax);
    ShowProgress();
}

// A range of 0 to 0 would show nothing sensible; it shows empty instead.
void TForm1::ShowProgress()
{
    SendMessageW(ProgressBar, PBM_SETRANGE32, 0, std::max(FProgressMax, 1));
    SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(FProgressMax == 0 ? 0 : FProgressPosition), 0);
}

void TForm1::SetTimer1Enabled(bool Enabled)
{
    if (Enabled == FTimer1Enabled) return; // an enabled timer keeps its countdown
    FTimer1Enabled = Enabled;
    if (Enabled)
        SetTimer(FHandle, Timer1Id, Timer1Interval, nullptr);
    else
        KillTimer(FHandle, Timer1Id);
}

void TForm1::StartTimer(TExchangeTimer Timer, std::chrono::microseconds Interval)
{
    FExchangeTimers->Start(static_cast<size_t>(Timer), Interval);
}

void TForm1::StopTimer(TExchangeTimer Timer)
{
    FExchangeTimers->Stop(static_cast<size_t>(Timer));
}

bool TForm1::ExchangeTimerActive(TExchangeTimer Timer) const
{
    return FExchangeTimers->Active(static_cast<size_t>(Timer));
}

void TForm1::ShowMessage(const std::string& Text)
{
    ShowMessageBox(FHandle, Text);
}

void TForm1::PostError(const std::string& Message)
{
    FPostedErrors.push_back(Message);
    PostMessageW(FHandle, WM_POSTED_ERROR, 0, 0);
}

void TForm1::WriteConnectionSettings()
{
    ::WriteConnectionSettings(*this);
}

// --- the settings file's controls --------------------------------------------

std::vector<std::string> TForm1::ComItems() const
{
    return ListEntries(Com);
}

void TForm1::SetComItems(const std::vector<std::string>& Items)
{
    SendMessageW(Com, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : Items) SendMessageW(Com, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
    SendMessageW(Com, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void TForm1::SetComIndex(int32_t Index)
{
    SendMessageW(Com, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
}

std::string TForm1::ComText() const
{
    return SelectedEntry(Com);
}

std::vector<std::string> TForm1::SpeedItems() const
{
    return ListEntries(Speed);
}

void TForm1::SetSpeedIndex(int32_t Index)
{
    SendMessageW(Speed, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
}

std::string TForm1::SpeedText() const
{
    return SelectedEntry(Speed);
}

std::string TForm1::AdderText() const
{
    return WideToUtf8(WindowText(Adder));
}

void TForm1::SetAdderText(const std::string& Text)
{
    SetWindowTextW(Adder, Utf8ToWide(Text).c_str());
}

std::string TForm1::VersionText() const
{
    return WideToUtf8(WindowText(Version));
}

std::string TForm1::SerialText() const
{
    return WideToUtf8(WindowText(Serial));
}

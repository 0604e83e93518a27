#include "ui/win32/MessageLoop.h"

#include "runtime/MainThread.h"

namespace {

constexpr wchar_t HandOverClass[] = L"ActionLogHandOver";
constexpr UINT WM_HANDOVER = WM_APP;

LRESULT CALLBACK HandOverProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message == WM_HANDOVER) {
        // Runs the handed-over calls; their exceptions travel back to the
        // threads that handed them over, or to the exception display.
        MainThread::CheckSynchronize();
        return 0;
    }
    return DefWindowProcW(Window, Message, WParam, LParam);
}

bool IsEnterOrEsc(const MSG& Message)
{
    const bool key = Message.message == WM_KEYDOWN || Message.message == WM_KEYUP || Message.message == WM_CHAR;
    return key && (Message.wParam == VK_RETURN || Message.wParam == VK_ESCAPE);
}

} // namespace

TMessageLoopHandOver::TMessageLoopHandOver()
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = HandOverProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = HandOverClass;
    RegisterClassExW(&windowClass); // fails harmlessly when already registered
    FWindow = CreateWindowExW(0, HandOverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    MainThread::MakeCurrentThreadMain();
    const HWND window = FWindow;
    MainThread::SetWakeHook([window] { PostMessageW(window, WM_HANDOVER, 0, 0); });
    // Calls queued before the hook was set.
    PostMessageW(window, WM_HANDOVER, 0, 0);
}

TMessageLoopHandOver::~TMessageLoopHandOver()
{
    MainThread::SetWakeHook(nullptr);
    if (FWindow) DestroyWindow(FWindow);
}

void DispatchFormMessage(HWND Form, MSG& Message)
{
    if (Form && IsWindow(Form) && !IsEnterOrEsc(Message) && IsDialogMessageW(Form, &Message)) return;
    TranslateMessage(&Message);
    DispatchMessageW(&Message);
}

int RunMessageLoop(HWND Form)
{
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<int>(message.wParam);
        if (got < 0) return 1;
        DispatchFormMessage(Form, message);
    }
}

bool PumpMessagesUntil(HWND Form, const std::function<bool()>& Done, std::chrono::milliseconds Timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    MSG message;
    for (;;) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return Done();
            }
            DispatchFormMessage(Form, message);
        }
        if (Done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<long long>(left.count(), 20)),
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

// The program on Windows: its one window, the main thread's part in handing
// the port's events over, and the display of errors.

#include "runtime/ExceptionDisplay.h"
#include "ui/win32/Form1.h"
#include "ui/win32/MessageBoxes.h"
#include "ui/win32/MessageLoop.h"

#include <windows.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int ShowCommand)
{
    int result = 0;
    try {
        TMessageLoopHandOver handOver;
        TForm1 form;
        form.QuitWhenClosed = true;
        const HWND window = form.Handle();
        SetExceptionDisplay([window](const std::exception& e) { ShowErrorBox(window, e.what()); });
        // A failing step is shown before the window, which then opens as far
        // as it got.
        RunGuarded([&form] { form.FormCreate(); });
        form.Show(ShowCommand);
        RunMessageLoop(window);
        SetExceptionDisplay(nullptr);
    } catch (const std::exception& e) {
        // The window itself could not be made.
        SetExceptionDisplay(nullptr);
        ShowErrorBox(nullptr, e.what());
        result = 1;
    }
    return result;
}

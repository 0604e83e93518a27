// The program: the Qt application, its one window, the main thread's part in
// handing the port's events over, and the display of errors.

#include <QApplication>

#include "runtime/ExceptionDisplay.h"
#include "runtime/Locale.h"
#include "ui/EventLoopHandOver.h"
#include "ui/Form1.h"
#include "ui/MessageBoxes.h"

int main(int argc, char* argv[])
{
    // Before Qt, which may set a locale of its own.
    SetLocaleFromEnvironment();
    QApplication application(argc, argv);
    HandOverToEventLoop();

    TForm1 form;
    SetExceptionDisplay([&form](const std::exception& e) { ShowErrorBox(&form, QString::fromUtf8(e.what())); });
    RunGuarded([&form] { form.FormCreate(); });
    form.show();
    const int result = application.exec();
    EndHandOverToEventLoop();
    SetExceptionDisplay(nullptr);
    return result;
}

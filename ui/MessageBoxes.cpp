#include "ui/MessageBoxes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include "runtime/ExceptionDisplay.h"
#include "runtime/Exceptions.h"

QString ApplicationTitle()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const qsizetype dot = name.indexOf('.');
    if (dot >= 0) name.truncate(dot);
    if (name.isEmpty()) return name;
    return name.left(1) + name.mid(1).toLower();
}

QString WithFullStop(const QString& Message)
{
    if (!Message.isEmpty() && Message.back().unicode() > u'.') return Message + '.';
    return Message;
}

namespace {

void ShowBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Message)
{
    QMessageBox box(Icon, ApplicationTitle(), Message, QMessageBox::Ok, Parent);
    box.exec();
}

} // namespace

void ShowErrorBox(QWidget* Parent, const QString& Message)
{
    ShowBox(Parent, QMessageBox::Critical, WithFullStop(Message));
}

void ShowMessageBox(QWidget* Parent, const QString& Message)
{
    ShowBox(Parent, QMessageBox::NoIcon, Message);
}

void RunGuarded(const std::function<void()>& Handler)
{
    try {
        Handler();
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(Exception("Unknown exception"));
    }
}

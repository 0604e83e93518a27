#include "ui/EventLoopHandOver.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "runtime/MainThread.h"

void HandOverToEventLoop()
{
    MainThread::MakeCurrentThreadMain();
    MainThread::SetWakeHook([] {
        QMetaObject::invokeMethod(qApp, [] { MainThread::CheckSynchronize(); }, Qt::QueuedConnection);
    });
}

void EndHandOverToEventLoop()
{
    MainThread::SetWakeHook(nullptr);
}

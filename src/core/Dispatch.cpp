#include "core/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

bool isMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void dispatchMainAsync(std::function<void()> work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return; // no event loop to run it on (process shutting down)
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void dispatchMainSync(const std::function<void()>& work)
{
    if (isMainThread()) {
        work();
        return;
    }
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(app, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void dispatchGlobalAsync(std::function<void()> work)
{
    QThreadPool::globalInstance()->start(std::move(work));
}

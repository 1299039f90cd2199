#include "core/AppIdentity.h"
#include "core/MemoryTuning.h"
#include "platform/Application.h"
#include "platform/SingleInstance.h"
#include "platform/UnixSignalWatcher.h"
#include "shell/AppDelegate.h"

#include <QApplication>
#include <QSessionManager>

#include <cstdio>

namespace {
// The links a launch was given ("mossbridge://…" from the desktop entry's %u).
QStringList launchUrls(const QStringList& arguments)
{
    QStringList urls;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].contains(QStringLiteral("://"))) {
            urls.append(arguments[i]);
        }
    }
    return urls;
}
} // namespace

int main(int argc, char* argv[])
{
    tuneAllocatorForLargeBuffers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mossbridge"));
    QApplication::setApplicationVersion(QStringLiteral(MOSSBRIDGE_VERSION));
    QApplication::setDesktopFileName(AppIdentity::id());
    const QStringList urls = launchUrls(QCoreApplication::arguments());

    SingleInstance instance(AppIdentity::id());
    const SingleInstance::Role role = instance.claim();
    if (role == SingleInstance::Role::secondary) {
        const QString error = instance.forward(urls);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "Mossbridge is already running but did not answer: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }

    // The session's end and these signals stop the program at once, whatever the quit policy
    // says of other requests; what runs is finished cleanly below.
    UnixSignalWatcher signals;
    QObject::connect(&signals, &UnixSignalWatcher::terminationRequested, &app, [] { Application::terminateNow(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager&) { Application::terminateNow(); });

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    delegate.attachSingleInstance(instance, role == SingleInstance::Role::alone, instance.aloneReason());
    if (!urls.isEmpty()) {
        delegate.applicationOpenURLs(urls);
    }

    const int status = QApplication::exec();
    delegate.shutdown();
    return status;
}

// Test entry point: every test program gets its own temporary XDG folders, so no test can
// touch the user's real settings, vault or desktop registration, and a Qt application object
// whose thread is the main queue (a QApplication for the tests of windows).

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#ifdef MOSSBRIDGE_TEST_GUI
#include "support/PrivateSessionBus.h"

#include <QApplication>
#endif
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir xdg(QDir::tempPath() + QStringLiteral("/mossbridge-test-XXXXXX"));
    if (!xdg.isValid()) {
        return 2;
    }
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = xdg.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(path);
        setenv(name, path.toUtf8().constData(), 1);
    }
    const QString runtime = xdg.path() + QStringLiteral("/XDG_RUNTIME_DIR");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setenv("XDG_RUNTIME_DIR", runtime.toUtf8().constData(), 1);
    setenv("HOME", xdg.path().toUtf8().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

#ifdef MOSSBRIDGE_TEST_GUI
    // Services a test registers live on a bus of its own (before anything opens the session bus).
    testsupport::PrivateSessionBus bus;
    bus.start();
    // Windows render in software so that offscreen tests can grab them as images.
    setenv("QT_QUICK_BACKEND", "software", 0);
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

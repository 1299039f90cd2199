// Test entry point: every test program gets its own temporary XDG folders, so no test can
// touch the user's real settings, vault or desktop registration, and a Qt application object
// whose thread is the main queue.

#include <QCoreApplication>
#include <QDir>
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
    setenv("HOME", xdg.path().toUtf8().constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

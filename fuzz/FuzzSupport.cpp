#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace fuzzsupport {

void isolateHome()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/mossbridge-fuzz-XXXXXX"));
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(path);
        setenv(name, path.toUtf8().constData(), 1);
    }
    setenv("HOME", home.path().toUtf8().constData(), 1);
}

void makeApplication()
{
    static int argc = 1;
    static char name[] = "mossbridge-fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
}

} // namespace fuzzsupport

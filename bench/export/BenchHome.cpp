#include "BenchHome.h"

#include <QDir>

BenchHome::BenchHome()
{
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home_.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        qputenv(name, path.toLocal8Bit());
    }
}

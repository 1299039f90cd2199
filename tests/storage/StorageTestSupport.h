#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace storagetest {

// Every file below `root`, relative to it, sorted.
inline QStringList filesUnder(const QString& root)
{
    QStringList result;
    QDir dir(root);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QString path = root + QLatin1Char('/') + name;
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
            result.append(name + QLatin1Char('/'));
            for (const QString& inner : filesUnder(path)) {
                result.append(name + QLatin1Char('/') + inner);
            }
        } else {
            result.append(name);
        }
    }
    result.sort();
    return result;
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace storagetest

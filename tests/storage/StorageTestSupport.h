#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

namespace storagetest {

// Redirects standard output into a file while it lives; text() gives what was printed.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_.open();
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(file_.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }

    QString text()
    {
        restore();
        QFile reader(file_.fileName());
        if (!reader.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(reader.readAll());
    }

private:
    void restore()
    {
        if (saved_ >= 0) {
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }

    QTemporaryFile file_;
    int saved_ = -1;
};

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

#include "storage/UserDefaults.h"

#include "core/ActivityLog.h"
#include "storage/SettingsFile.h"

#include <QStandardPaths>
#include <QVariant>

#include <cstdio>

namespace {

// Also on standard error: a failure at start may come before the log window exists.
void reportFailure(const QString& key, const std::optional<QString>& failure)
{
    if (!failure) {
        return;
    }
    const QString line = QStringLiteral("[ERR] Could not save the setting \"%1\": %2").arg(key, *failure);
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    appendLog(line);
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    // Created on first use at the location valid at that moment; setStandardPath re-points it
    // in place, so references handed out earlier (ConfigManager::shared(), ...) stay valid.
    static UserDefaults instance(defaultPath());
    return instance;
}

UserDefaults::UserDefaults(const QString& filePath)
    : filePath_(filePath)
{
}

UserDefaults::~UserDefaults() = default;

void UserDefaults::setStandardPath(const QString& filePath)
{
    standard().repoint(filePath);
}

QString UserDefaults::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
        + QStringLiteral("/Mossbridge/Mossbridge.conf");
}

QString UserDefaults::filePath() const
{
    std::lock_guard lock(mutex_);
    return filePath_;
}

void UserDefaults::repoint(const QString& filePath)
{
    std::lock_guard lock(mutex_);
    filePath_ = filePath;
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const std::optional<QVariant> value = SettingsFile::at(filePath()).value(key);
    if (!value) {
        return std::nullopt;
    }
    if (value->typeId() == QMetaType::QByteArray) {
        return value->toByteArray();
    }
    if (value->typeId() == QMetaType::QString) {
        return value->toString().toUtf8();
    }
    // Anything else (a list, a number written by hand) is not data this store wrote.
    return std::nullopt;
}

void UserDefaults::setData(const QString& key, const QByteArray& value)
{
    reportFailure(key, SettingsFile::at(filePath()).setValue(key, QString::fromUtf8(value)));
}

bool UserDefaults::boolValue(const QString& key) const
{
    return SettingsFile::at(filePath()).value(key).value_or(false).toBool();
}

void UserDefaults::setBool(const QString& key, bool value)
{
    reportFailure(key, SettingsFile::at(filePath()).setValue(key, value));
}

void UserDefaults::remove(const QString& key)
{
    reportFailure(key, SettingsFile::at(filePath()).remove(key));
}

#include "storage/UserDefaults.h"

#include <QSettings>
#include <QStandardPaths>
#include <QVariant>

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
    std::lock_guard lock(mutex_);
    QSettings settings(filePath_, QSettings::IniFormat);
    if (!settings.contains(key)) {
        return std::nullopt;
    }
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QByteArray) {
        return value.toByteArray();
    }
    if (value.typeId() == QMetaType::QString) {
        return value.toString().toUtf8();
    }
    // Anything else (a list, a number written by hand) is not data this store wrote.
    return std::nullopt;
}

void UserDefaults::setData(const QString& key, const QByteArray& value)
{
    std::lock_guard lock(mutex_);
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.setValue(key, QString::fromUtf8(value));
    settings.sync();
}

bool UserDefaults::boolValue(const QString& key) const
{
    std::lock_guard lock(mutex_);
    QSettings settings(filePath_, QSettings::IniFormat);
    return settings.value(key, false).toBool();
}

void UserDefaults::setBool(const QString& key, bool value)
{
    std::lock_guard lock(mutex_);
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

void UserDefaults::remove(const QString& key)
{
    std::lock_guard lock(mutex_);
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
}

#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include <QByteArray>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class QSettings;

// The user-defaults store: an INI file under $XDG_CONFIG_HOME/Mossbridge/Mossbridge.conf.
// JSON values are kept as their UTF-8 text.
class UserDefaults {
public:
    static UserDefaults& standard();

    // Points the store at another file (tests use a temporary directory). Also used by
    // standard() on first use with the default location.
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();

    // Re-points the standard store, e.g. at a temporary folder in tests.
    static void setStandardPath(const QString& filePath);
    static QString defaultPath();

    std::optional<QByteArray> data(const QString& key) const;
    void setData(const QString& key, const QByteArray& value);
    bool boolValue(const QString& key) const;
    void setBool(const QString& key, bool value);
    void remove(const QString& key);

private:
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

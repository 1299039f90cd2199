#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

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

    QString filePath() const;

private:
    void repoint(const QString& filePath);

    mutable std::mutex mutex_;
    // A QSettings is made per call: QSettings objects are reentrant but not thread-safe, and
    // Qt shares the parsed file between them, so this stays cheap.
    QString filePath_;
};

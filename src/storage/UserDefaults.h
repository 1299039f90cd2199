#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include <QByteArray>
#include <QString>

#include <mutex>
#include <optional>

// The user-defaults store: an INI file under $XDG_CONFIG_HOME/Mossbridge/Mossbridge.conf, in
// the format QSettings reads. JSON values are kept as their UTF-8 text. A change that cannot be
// saved (a full disk) leaves the file as it was, is logged as an "[ERR] " line and is kept for
// this run; the next save writes it again.
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
    // The values live in the file's SettingsFile, shared by every store of that file.
    QString filePath_;
};

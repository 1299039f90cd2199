#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

#include <sys/types.h>

#include <ctime>
#include <mutex>
#include <optional>

// One INI settings file as this process holds it. The values are read with QSettings, so any
// file QSettings wrote loads, and every change rewrites the whole file (in QSettings' format,
// IniText) through the checked writer, so the file on disk is always either the old one or
// the complete new one.
//
// A change that cannot be written stays in memory: this run sees it, and the next save that
// succeeds writes it along with its own change. When the file changes on disk behind this
// process's back (another program), it is read again and the changes not yet written are laid
// over it, as QSettings merges its changes into a file that changed.
class SettingsFile {
public:
    // The one instance for this file in this process: every store of the file shares it, so a
    // change made through one is seen by the others at once.
    static SettingsFile& at(const QString& filePath);

    std::optional<QVariant> value(const QString& key);

    // Both return nothing once the file holds the change, else why it could not be written.
    std::optional<QString> setValue(const QString& key, const QVariant& value);
    std::optional<QString> remove(const QString& key);

private:
    // What tells one version of the file from another (its absence is a version too).
    struct Version {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified {};
        timespec changed {};

        bool operator==(const Version& other) const;
    };

    explicit SettingsFile(const QString& path);

    static Version versionOnDisk(const QString& path);
    // Reads the file again when it is not the version last read or written.
    void refresh();
    std::optional<QString> change(const QString& key, const std::optional<QVariant>& value);
    std::optional<QString> save();

    const QString path_;
    std::mutex mutex_;
    bool loaded_ = false;
    Version version_;
    QMap<QString, QVariant> values_;               // the file's values with the changes laid over
    QMap<QString, std::optional<QVariant>> unsaved_; // changes not written yet; nothing = removed
};

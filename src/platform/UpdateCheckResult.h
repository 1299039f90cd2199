#pragma once

#include <QString>
#include <QUrl>

// What an update check found, and how the program tells the user.
struct UpdateCheckResult {
    enum class Kind {
        newerAvailable,
        upToDate,
        failed,
        noFeed,
    };

    Kind kind = Kind::failed;
    QString currentVersion;
    QString latestVersion; // newerAvailable, upToDate
    QUrl releasePage;      // newerAvailable, when the feed names one
    QString error;         // failed

    QString title() const;
    QString message() const;
};

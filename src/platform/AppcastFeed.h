#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// An appcast: an RSS feed whose items each describe one release, the version on the item's
// enclosure (or in a version element of the item).
class AppcastFeed {
public:
    struct Release {
        QString version;
        QUrl page; // the item's link, else its release notes, else the download
    };

    // The newest release of the feed; nothing when it names none. Sets `error` when the text
    // is no feed at all.
    static std::optional<Release> newestRelease(const QByteArray& xml, QString* error = nullptr);
};

#include "platform/AppcastFeed.h"

#include "core/VersionNumber.h"

#include <QXmlStreamReader>

namespace {

struct ItemText {
    QString version;
    QString shortVersion;
    QString link;
    QString releaseNotes;
    QString enclosureUrl;
    QString enclosureVersion;
    QString enclosureShortVersion;

    QString bestVersion() const
    {
        for (const QString& candidate : {shortVersion, enclosureShortVersion, version, enclosureVersion}) {
            if (!candidate.trimmed().isEmpty()) {
                return candidate.trimmed();
            }
        }
        return {};
    }

    QUrl bestPage() const
    {
        for (const QString& candidate : {link, releaseNotes, enclosureUrl}) {
            const QUrl url(candidate.trimmed(), QUrl::StrictMode);
            if (url.isValid() && (url.scheme() == QStringLiteral("https") || url.scheme() == QStringLiteral("http"))) {
                return url;
            }
        }
        return {};
    }
};

} // namespace

std::optional<AppcastFeed::Release> AppcastFeed::newestRelease(const QByteArray& xml, QString* error)
{
    QXmlStreamReader reader(xml);
    std::optional<Release> newest;
    bool sawFeed = false;
    std::optional<ItemText> item;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const QStringView name = reader.name();
            if (name == QStringLiteral("rss") || name == QStringLiteral("channel")) {
                sawFeed = true;
            } else if (name == QStringLiteral("item")) {
                item = ItemText {};
            } else if (item && name == QStringLiteral("enclosure")) {
                const QXmlStreamAttributes attributes = reader.attributes();
                for (const QXmlStreamAttribute& attribute : attributes) {
                    if (attribute.name() == QStringLiteral("url")) {
                        item->enclosureUrl = attribute.value().toString();
                    } else if (attribute.name() == QStringLiteral("version")) {
                        item->enclosureVersion = attribute.value().toString();
                    } else if (attribute.name() == QStringLiteral("shortVersionString")) {
                        item->enclosureShortVersion = attribute.value().toString();
                    }
                }
            } else if (item && name == QStringLiteral("link")) {
                item->link = reader.readElementText();
            } else if (item && name == QStringLiteral("version")) {
                item->version = reader.readElementText();
            } else if (item && name == QStringLiteral("shortVersionString")) {
                item->shortVersion = reader.readElementText();
            } else if (item && name == QStringLiteral("releaseNotesLink")) {
                item->releaseNotes = reader.readElementText();
            }
        } else if (reader.isEndElement() && reader.name() == QStringLiteral("item") && item) {
            const QString version = item->bestVersion();
            if (!version.isEmpty() && (!newest || VersionNumber::compare(version, newest->version) > 0)) {
                newest = Release {version, item->bestPage()};
            }
            item.reset();
        }
    }
    if (reader.hasError() || !sawFeed) {
        if (error != nullptr) {
            *error = reader.hasError() ? reader.errorString() : QStringLiteral("the answer is not an update feed");
        }
        return std::nullopt;
    }
    return newest;
}

#include "platform/Workspace.h"

#include <QDesktopServices>
#include <QUrlQuery>

bool Workspace::openUrl(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty()) {
        return false;
    }
    return QDesktopServices::openUrl(url);
}

QUrl Workspace::obsidianNoteUrl(const QString& vaultName, const QString& filePath)
{
    QUrlQuery query;
    // QUrlQuery leaves "&", "=" and "+" of a value alone unless told; a vault or note name may
    // hold them, so they are written encoded to keep the two items apart.
    auto encoded = [](const QString& value) {
        QString text = QString::fromUtf8(QUrl::toPercentEncoding(value, "/!$'()*,-.:;@_~"));
        return text;
    };
    query.setQuery(QStringLiteral("vault=") + encoded(vaultName) + QStringLiteral("&file=") + encoded(filePath));
    QUrl url;
    url.setScheme(QStringLiteral("obsidian"));
    url.setHost(QStringLiteral("open"));
    url.setQuery(query);
    return url.isValid() ? url : QUrl();
}

void Workspace::openViaUrlScheme(const QString& vaultName, const QString& filePath)
{
    const QUrl url = obsidianNoteUrl(vaultName, filePath);
    if (!url.isEmpty()) {
        openUrl(url);
    }
}

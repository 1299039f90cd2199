#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrlQuery>

namespace {

// A file manager that is slow to start still gets a few seconds before the folder opens instead.
constexpr int kShowItemsTimeoutMs = 5000;

} // namespace

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

void Workspace::revealFile(const QString& absolutePath)
{
    const QUrl fileUrl = QUrl::fromLocalFile(absolutePath);
    const QUrl folderUrl = QUrl::fromLocalFile(QFileInfo(absolutePath).absolutePath());

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openUrl(folderUrl);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList {fileUrl.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folderUrl](QDBusPendingCallWatcher* done) {
        if (done->isError()) {
            openUrl(folderUrl);
        }
        done->deleteLater();
    });
}

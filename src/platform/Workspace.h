#pragma once

#include <QString>
#include <QUrl>

// The desktop's workspace: opening addresses with their default handler and notes in Obsidian.
// Main thread only.
class Workspace {
public:
    // Opens the address with the desktop's default handler (xdg-open); false when none took it.
    static bool openUrl(const QUrl& url);

    // "obsidian://open?vault=…&file=…", both values percent-encoded as URL query values; an
    // empty URL when none forms.
    static QUrl obsidianNoteUrl(const QString& vaultName, const QString& filePath);
    // Opens a vault's note in Obsidian through its URL scheme.
    static void openViaUrlScheme(const QString& vaultName, const QString& filePath);
};

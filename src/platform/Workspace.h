#pragma once

#include <QString>
#include <QUrl>

// The desktop's workspace: opening addresses with their default handler, notes in Obsidian and
// files in the file manager. Main thread only.
class Workspace {
public:
    // Opens the address with the desktop's default handler (xdg-open); false when none took it.
    static bool openUrl(const QUrl& url);

    // "obsidian://open?vault=…&file=…", both values percent-encoded as URL query values; an
    // empty URL when none forms.
    static QUrl obsidianNoteUrl(const QString& vaultName, const QString& filePath);
    // Opens a vault's note in Obsidian through its URL scheme.
    static void openViaUrlScheme(const QString& vaultName, const QString& filePath);

    // Shows the file selected in the file manager (org.freedesktop.FileManager1.ShowItems on the
    // session bus). When no file manager answers, or it answers with an error, the folder that
    // holds the file is opened instead. Returns at once; the answer is awaited in the event loop.
    static void revealFile(const QString& absolutePath);
};

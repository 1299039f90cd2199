#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <functional>

// What a click on one of the program's notifications does, by the user info it carries: open
// the exported note in Obsidian, or bring the browser tab of a failed export forward.
class NotificationTapHandler {
public:
    enum class Outcome {
        openedNoteLink, // vaultName and filePath: the note's obsidian:// link
        openedUrl,      // obsidianUrl
        openedFile,     // path
        focusedTab,     // focusTabId and focusWindowId
        nothing,
    };

    struct Actions {
        std::function<void(const QString& vaultName, const QString& filePath)> openViaUrlScheme;
        std::function<bool(const QUrl& url)> openUrl;
        // Opens a note file in Obsidian (or with its default application).
        std::function<void(const QString& path)> openFile;
        // Sends one message to the connected extension.
        std::function<void(const QByteArray& message)> sendToExtension;
        // Brings the browser forward.
        std::function<void()> activateBrowser;
    };

    explicit NotificationTapHandler(Actions actions);

    // The first rule that applies is carried out.
    Outcome handle(const QVariantMap& userInfo) const;

    // Opens a file with Obsidian when it is installed, else with its default application;
    // logs "Failed to open note in Obsidian: …" when Obsidian cannot start.
    static void openFileInObsidian(const QString& path);

private:
    Actions actions_;
};

#include "ui/HistoryItemViewModel.h"

#include "platform/Workspace.h"
#include "storage/ExportHistoryManager.h"
#include "ui/RelativeDateText.h"

#include <QClipboard>
#include <QGuiApplication>

HistoryItemViewModel::HistoryItemViewModel(ExportHistoryManager& history, const ExportHistoryItem& item,
    const QDateTime& now, bool hasDividerBelow, QObject* parent)
    : QObject(parent)
    , history_(history)
    , item_(item)
    , ageText_(RelativeDateText::formatDate(item.timestamp, now))
    , hasDividerBelow_(hasDividerBelow)
{
}

QString HistoryItemViewModel::iconName() const
{
    if (isMissing()) {
        return QStringLiteral("exclamationmark.triangle.fill");
    }
    return item_.success ? QStringLiteral("doc.text") : QStringLiteral("exclamationmark.triangle");
}

HistoryItemViewModel::Tone HistoryItemViewModel::iconTone() const
{
    if (isMissing()) {
        return Tone::Orange;
    }
    return item_.success ? Tone::Secondary : Tone::Red;
}

QString HistoryItemViewModel::folderName() const
{
    QString path = item_.finalPath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    const qsizetype lastSlash = path.lastIndexOf(QLatin1Char('/'));
    if (lastSlash < 0) {
        return {};  // a note at the top of the vault
    }
    if (lastSlash == 0) {
        return QStringLiteral("/");
    }
    QString parent = path.left(lastSlash);
    while (parent.size() > 1 && parent.endsWith(QLatin1Char('/'))) {
        parent.chop(1);
    }
    return parent == QStringLiteral("/") ? parent : parent.mid(parent.lastIndexOf(QLatin1Char('/')) + 1);
}

QUrl HistoryItemViewModel::obsidianUrl() const
{
    return Workspace::obsidianNoteUrl(item_.vaultName, item_.finalPath);
}

void HistoryItemViewModel::activate()
{
    if (isMissing()) {
        return;
    }
    if (history_.fileExists(item_.finalPath)) {
        openInObsidian();
    } else {
        // Republishes the history; the list is rebuilt and this row shows as missing.
        history_.refreshFileExistence();
    }
}

void HistoryItemViewModel::openInObsidian()
{
    Workspace::openViaUrlScheme(item_.vaultName, item_.finalPath);
}

void HistoryItemViewModel::copyLink()
{
    const QUrl url = obsidianUrl();
    if (url.isEmpty()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(url.toString(QUrl::FullyEncoded));
}

void HistoryItemViewModel::showInFolder()
{
    Workspace::revealFile(history_.resolvedPath(item_.finalPath));
}

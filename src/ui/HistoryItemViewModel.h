#pragma once

#include "storage/ExportHistoryItem.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class ExportHistoryManager;

// One row of the export history: what the row shows for its item (a copy taken when the list
// was built) and what a click or a context-menu entry does with it.
class HistoryItemViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Rows are made by HistoryListModel")

    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(bool isMissing READ isMissing CONSTANT)
    Q_PROPERTY(QString iconName READ iconName CONSTANT)
    Q_PROPERTY(Tone iconTone READ iconTone CONSTANT)
    Q_PROPERTY(Tone tileTone READ tileTone CONSTANT)
    Q_PROPERTY(QString ageText READ ageText CONSTANT)
    Q_PROPERTY(QString folderName READ folderName CONSTANT)
    Q_PROPERTY(bool hasError READ hasError CONSTANT)
    Q_PROPERTY(QString errorText READ errorText CONSTANT)
    Q_PROPERTY(bool openEnabled READ openEnabled CONSTANT)
    Q_PROPERTY(bool showInFolderEnabled READ showInFolderEnabled CONSTANT)
    Q_PROPERTY(bool hasDividerBelow READ hasDividerBelow CONSTANT)
    Q_PROPERTY(bool showsHoverArrow READ showsHoverArrow CONSTANT)

public:
    // The colours a row's icon and its tile take; the view maps them onto the palette.
    enum class Tone { Secondary, Orange, Red };
    Q_ENUM(Tone)

    HistoryItemViewModel(ExportHistoryManager& history, const ExportHistoryItem& item,
        const QDateTime& now, bool hasDividerBelow, QObject* parent = nullptr);

    const ExportHistoryItem& item() const { return item_; }

    QString title() const { return item_.title; }
    // Only a file known to be gone counts; an unchecked one is taken as present.
    bool isMissing() const { return item_.fileExists == false; }
    QString iconName() const;
    Tone iconTone() const;
    Tone tileTone() const { return isMissing() ? Tone::Red : Tone::Secondary; }
    QString ageText() const { return ageText_; }
    // The folder that holds the note: the last component of the path's parent.
    QString folderName() const;
    bool hasError() const { return item_.errorMessage && !item_.errorMessage->isEmpty(); }
    QString errorText() const { return item_.errorMessage.value_or(QString()); }
    bool openEnabled() const { return !isMissing(); }
    bool showInFolderEnabled() const { return !isMissing(); }
    // The arrow promises that a click opens the note, which a missing one does not.
    bool showsHoverArrow() const { return !isMissing(); }
    // Every row of a group but its last is followed by a divider.
    bool hasDividerBelow() const { return hasDividerBelow_; }

    // The note's obsidian://open link; empty when none forms.
    QUrl obsidianUrl() const;

    // A click on the row: ignored while the file is missing; otherwise the file is checked now
    // and opened, or, when it has gone, the history's file flags are refreshed so the row turns
    // to missing.
    Q_INVOKABLE void activate();
    Q_INVOKABLE void openInObsidian();
    // Puts the link on the clipboard as plain text.
    Q_INVOKABLE void copyLink();
    Q_INVOKABLE void showInFolder();

private:
    ExportHistoryManager& history_;
    ExportHistoryItem item_;
    QString ageText_;
    bool hasDividerBelow_;
};

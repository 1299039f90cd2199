#pragma once

#include "core/DestinationFolder.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The vault step: where notes go (the vault folder and the destination folder inside it).
// Everything is saved the moment it changes; the view only shows what storage holds.
class OnboardingStep1ViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(bool settingsForm READ settingsForm WRITE setSettingsForm NOTIFY settingsFormChanged)
    Q_PROPERTY(QString vaultPath READ vaultPath NOTIFY settingsChanged)
    Q_PROPERTY(QString vaultName READ vaultName NOTIFY settingsChanged)
    Q_PROPERTY(QString destinationFolder READ destinationFolder NOTIFY settingsChanged)
    Q_PROPERTY(bool hasVault READ hasVault NOTIFY settingsChanged)
    Q_PROPERTY(bool isSelecting READ isSelecting NOTIFY isSelectingChanged)

    Q_PROPERTY(bool hoveringSource MEMBER hoveringSource_ NOTIFY hoverChanged)
    Q_PROPERTY(bool hoveringDest MEMBER hoveringDest_ NOTIFY hoverChanged)
    Q_PROPERTY(bool hoveringChange MEMBER hoveringChange_ NOTIFY hoverChanged)
    Q_PROPERTY(bool hoveringEdit MEMBER hoveringEdit_ NOTIFY hoverChanged)
    Q_PROPERTY(bool hoveringContinue MEMBER hoveringContinue_ NOTIFY hoverChanged)

    // What the rows show.
    Q_PROPERTY(bool showsHeader READ showsHeader NOTIFY settingsFormChanged)
    Q_PROPERTY(bool showsContinue READ showsHeader NOTIFY settingsFormChanged)
    Q_PROPERTY(QString vaultTitle READ vaultTitle NOTIFY settingsChanged)
    Q_PROPERTY(QString vaultSubtitle READ vaultSubtitle NOTIFY settingsChanged)
    Q_PROPERTY(QString selectButtonText READ selectButtonText NOTIFY settingsChanged)
    Q_PROPERTY(QString destinationVaultText READ destinationVaultText NOTIFY settingsChanged)
    Q_PROPERTY(bool showsEditButton READ hasVault NOTIFY settingsChanged)
    Q_PROPERTY(bool continueEnabled READ hasVault NOTIFY settingsChanged)
    Q_PROPERTY(QColor sourceOutline READ sourceOutline NOTIFY hoverChanged)
    Q_PROPERTY(QColor destOutline READ destOutline NOTIFY hoverChanged)
    Q_PROPERTY(QColor changeButtonBackground READ changeButtonBackground NOTIFY hoverChanged)
    Q_PROPERTY(QColor editButtonBackground READ editButtonBackground NOTIFY hoverChanged)
    Q_PROPERTY(QColor continueBackground READ continueBackground NOTIFY continueBackgroundChanged)

public:
    explicit OnboardingStep1ViewModel(QObject* parent = nullptr);

    bool settingsForm() const { return settingsForm_; }
    void setSettingsForm(bool settings);

    QString vaultPath() const { return vaultPath_; }
    QString vaultName() const { return vaultName_; }
    QString destinationFolder() const { return destinationFolder_; }
    bool hasVault() const { return hasVault_; }
    bool isSelecting() const { return isSelecting_; }

    bool showsHeader() const { return !settingsForm_; }
    QString vaultTitle() const;
    QString vaultSubtitle() const;
    QString selectButtonText() const;
    QString destinationVaultText() const;
    QColor sourceOutline() const;
    QColor destOutline() const;
    QColor changeButtonBackground() const;
    QColor editButtonBackground() const;
    QColor continueBackground() const;

    // Refreshes everything shown from the stored preferences and the vault bookmark.
    Q_INVOKABLE void loadSettings();
    // Opens the folder chooser; a chosen folder becomes the vault.
    Q_INVOKABLE void selectVault();
    // Asks for a new destination folder name: the view shows its dialog on folderEditRequested.
    Q_INVOKABLE void editFolder();
    // The dialog's answer: OK with a name that is not blank stores the trimmed name.
    Q_INVOKABLE void finishEditFolder(bool okPressed, const QString& text);
    // The Continue button: stores the shown folder when none is stored yet, then continues.
    Q_INVOKABLE void continueAction();

Q_SIGNALS:
    void settingsFormChanged();
    void settingsChanged();
    void isSelectingChanged();
    void hoverChanged();
    void continueBackgroundChanged();
    void folderEditRequested(const QString& currentName);
    // The step's continue action (the container decides where it leads).
    void continued();

private:
    void setIsSelecting(bool selecting);

    bool settingsForm_ = false;
    QString vaultPath_ = QStringLiteral("Select Vault");
    QString vaultName_;
    QString destinationFolder_ = DestinationFolder::defaultName();
    bool isSelecting_ = false;
    bool hasVault_ = false;
    bool hoveringSource_ = false;
    bool hoveringDest_ = false;
    bool hoveringChange_ = false;
    bool hoveringEdit_ = false;
    bool hoveringContinue_ = false;
};

#include "ui/OnboardingStep1ViewModel.h"

#include "core/DestinationFolder.h"
#include "storage/ConfigManager.h"
#include "storage/VaultManager.h"
#include "ui/FolderChooser.h"
#include "ui/OnboardingColor.h"
#include "ui/OnboardingServices.h"
#include "ui/OnboardingTheme.h"

#include <QFileInfo>
#include <QPointer>

namespace {

QColor white(double opacity)
{
    QColor color(Qt::white);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

} // namespace

OnboardingStep1ViewModel::OnboardingStep1ViewModel(QObject* parent)
    : QObject(parent)
{
    connect(this, &OnboardingStep1ViewModel::hoverChanged, this, &OnboardingStep1ViewModel::continueBackgroundChanged);
    connect(this, &OnboardingStep1ViewModel::settingsChanged, this, &OnboardingStep1ViewModel::continueBackgroundChanged);
}

void OnboardingStep1ViewModel::setSettingsForm(bool settings)
{
    if (settingsForm_ != settings) {
        settingsForm_ = settings;
        Q_EMIT settingsFormChanged();
    }
}

QString OnboardingStep1ViewModel::vaultTitle() const
{
    return hasVault_ ? vaultName_ : QStringLiteral("Obsidian Vault");
}

QString OnboardingStep1ViewModel::vaultSubtitle() const
{
    return hasVault_ ? vaultPath_ : QStringLiteral("Select your vault folder");
}

QString OnboardingStep1ViewModel::selectButtonText() const
{
    return hasVault_ ? QStringLiteral("Change") : QStringLiteral("Select");
}

QString OnboardingStep1ViewModel::destinationVaultText() const
{
    return hasVault_ ? vaultName_ : QStringLiteral("Vault");
}

QColor OnboardingStep1ViewModel::sourceOutline() const
{
    return hoveringSource_ ? white(0.2) : QColor(Qt::transparent);
}

QColor OnboardingStep1ViewModel::destOutline() const
{
    return hoveringDest_ ? white(0.2) : QColor(Qt::transparent);
}

QColor OnboardingStep1ViewModel::changeButtonBackground() const
{
    return white(hoveringChange_ ? 0.2 : 0.1);
}

QColor OnboardingStep1ViewModel::editButtonBackground() const
{
    return white(hoveringEdit_ ? 0.15 : 0.05);
}

QColor OnboardingStep1ViewModel::continueBackground() const
{
    if (!hasVault_) {
        QColor grey = OnboardingColor::fromHex(OnboardingTheme::grey());
        grey.setAlphaF(0.3f);
        return grey;
    }
    return OnboardingColor::fromHex(hoveringContinue_ ? QStringLiteral("6d28d9") : QStringLiteral("7c3aed"));
}

void OnboardingStep1ViewModel::loadSettings()
{
    destinationFolder_ = ConfigManager::shared().preferences().destinationFolder.value_or(DestinationFolder::defaultName());
    if (const auto url = VaultManager().getVaultURL()) {
        hasVault_ = true;
        vaultPath_ = *url;
        vaultName_ = QFileInfo(*url).fileName();
    } else {
        hasVault_ = false;
        vaultPath_ = QStringLiteral("Select your vault folder");
        vaultName_.clear();
    }
    Q_EMIT settingsChanged();
}

void OnboardingStep1ViewModel::setIsSelecting(bool selecting)
{
    if (isSelecting_ != selecting) {
        isSelecting_ = selecting;
        Q_EMIT isSelectingChanged();
    }
}

void OnboardingStep1ViewModel::selectVault()
{
    setIsSelecting(true);
    // The chooser may answer after this step is gone (the window closed meanwhile); the
    // choice is still recorded, only the display refresh is skipped.
    QPointer<OnboardingStep1ViewModel> self(this);
    OnboardingServices::shared().folderChooser().begin(QStringLiteral("Select Vault"),
        QStringLiteral("Choose your Obsidian Vault folder"), [self](std::optional<QString> folder) {
            if (self) {
                self->setIsSelecting(false);
            }
            if (!folder || folder->isEmpty()) {
                return;
            }
            VaultManager().setVaultURL(*folder);
            if (self) {
                self->loadSettings();
            }
        });
}

void OnboardingStep1ViewModel::editFolder()
{
    Q_EMIT folderEditRequested(destinationFolder_);
}

void OnboardingStep1ViewModel::finishEditFolder(bool okPressed, const QString& text)
{
    if (!okPressed) {
        return;
    }
    // White space and line breaks at both ends go; nothing else about the name is checked.
    const QString name = text.trimmed();
    if (name.isEmpty()) {
        return;
    }
    ConfigManager& config = ConfigManager::shared();
    config.save(UserPreferences{config.preferences().vaultBookmark, name});
    destinationFolder_ = name;
    Q_EMIT settingsChanged();
}

void OnboardingStep1ViewModel::continueAction()
{
    ConfigManager& config = ConfigManager::shared();
    const UserPreferences stored = config.preferences();
    if (!stored.destinationFolder) {
        config.save(UserPreferences{stored.vaultBookmark, destinationFolder_});
    }
    Q_EMIT continued();
}

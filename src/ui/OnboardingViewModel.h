#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

// The onboarding window's content: in onboarding form two steps (the vault, then the
// extension), in settings form the vault step alone. Posts "OnboardingComplete" when the
// flow ends.
class OnboardingViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(bool settingsForm READ settingsForm WRITE setSettingsForm NOTIFY settingsFormChanged)
    Q_PROPERTY(int currentStep READ currentStep NOTIFY currentStepChanged)
    Q_PROPERTY(bool vaultConfigured READ vaultConfigured NOTIFY vaultConfiguredChanged)
    Q_PROPERTY(bool showsStepIndicator READ showsStepIndicator NOTIFY settingsFormChanged)
    Q_PROPERTY(QColor vaultStepColor READ vaultStepColor NOTIFY currentStepChanged)
    Q_PROPERTY(QColor extensionStepColor READ extensionStepColor NOTIFY currentStepChanged)

public:
    explicit OnboardingViewModel(QObject* parent = nullptr);

    bool settingsForm() const { return settingsForm_; }
    void setSettingsForm(bool settings);
    // 1 (the vault) or 2 (the extension); the settings form stays at 1.
    int currentStep() const { return currentStep_; }
    bool vaultConfigured() const { return vaultConfigured_; }
    bool showsStepIndicator() const { return !settingsForm_; }

    // The step indicator's colour: accent for the current step, success for a finished one.
    QColor stepColor(int step) const;
    QColor vaultStepColor() const { return stepColor(1); }
    QColor extensionStepColor() const { return stepColor(2); }

    // The view appeared: notes whether a vault resolves.
    Q_INVOKABLE void appeared();
    // The vault step's continue action: the end of the flow in settings form or when the
    // extension is already connected, else the extension step.
    Q_INVOKABLE void vaultStepContinued();
    // The extension step's back and finish actions.
    Q_INVOKABLE void back();
    Q_INVOKABLE void finish();

Q_SIGNALS:
    void settingsFormChanged();
    void currentStepChanged();
    void vaultConfiguredChanged();

private:
    void setCurrentStep(int step);

    bool settingsForm_ = false;
    int currentStep_ = 1;
    bool vaultConfigured_ = false;
};

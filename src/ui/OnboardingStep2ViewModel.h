#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The extension step: whether the browser extension is connected, help to install it, and the
// end of onboarding once it is. It only watches AppState's connection flag.
class OnboardingStep2ViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT

public:
    enum class CheckStatus {
        checking,
        notInstalled,
        chromeNotInstalled,
        connected,
    };
    Q_ENUM(CheckStatus)

private:
    Q_PROPERTY(CheckStatus checkStatus READ checkStatus NOTIFY checkStatusChanged)
    Q_PROPERTY(bool hoveringBack MEMBER hoveringBack_ NOTIFY hoverChanged)
    Q_PROPERTY(bool hoveringFinish MEMBER hoveringFinish_ NOTIFY hoverChanged)
    // The status as text for the view: "checking", "notInstalled", "chromeNotInstalled", "connected".
    Q_PROPERTY(QString statusName READ statusName NOTIFY checkStatusChanged)
    Q_PROPERTY(bool showsBack READ showsBack NOTIFY checkStatusChanged)
    Q_PROPERTY(bool showsFinish READ showsFinish NOTIFY checkStatusChanged)
    Q_PROPERTY(QString storePageAddress READ storePageAddress CONSTANT)

public:
    explicit OnboardingStep2ViewModel(QObject* parent = nullptr);

    CheckStatus checkStatus() const { return checkStatus_; }
    QString statusName() const;
    bool showsBack() const { return checkStatus_ != CheckStatus::connected; }
    bool showsFinish() const { return checkStatus_ == CheckStatus::connected; }
    QString storePageAddress() const;

    // Runs once each time the step is shown: connected already, no browser, or open the
    // connect page and look again once, 2.0 s later.
    Q_INVOKABLE void startChecking();
    Q_INVOKABLE void openStorePage() const;
    Q_INVOKABLE void back() { Q_EMIT backRequested(); }
    Q_INVOKABLE void finish() { Q_EMIT finishRequested(); }

Q_SIGNALS:
    void checkStatusChanged();
    void hoverChanged();
    void backRequested();
    void finishRequested();

private:
    void setCheckStatus(CheckStatus status);

    CheckStatus checkStatus_ = CheckStatus::checking;
    bool hoveringBack_ = false;
    bool hoveringFinish_ = false;
};

#include "ui/OnboardingStep2ViewModel.h"

#include "core/AppState.h"
#include "platform/BrowserFinder.h"
#include "platform/Workspace.h"
#include "ui/OnboardingServices.h"

#include <QUrl>

#include <chrono>
#include <cstdio>

namespace {

constexpr std::chrono::milliseconds kRecheckDelay {2000};

// A web address as typed at build time, or nothing when it does not form one.
QUrl parsedAddress(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        return {};
    }
    return url;
}

} // namespace

OnboardingStep2ViewModel::OnboardingStep2ViewModel(QObject* parent)
    : QObject(parent)
{
    // A connection ends the check whatever it showed; a disconnection changes nothing.
    connect(&AppState::shared(), &AppState::isExtensionConnectedChanged, this, [this](bool connected) {
        if (connected) {
            setCheckStatus(CheckStatus::connected);
        }
    });
}

QString OnboardingStep2ViewModel::statusName() const
{
    switch (checkStatus_) {
    case CheckStatus::checking:
        return QStringLiteral("checking");
    case CheckStatus::notInstalled:
        return QStringLiteral("notInstalled");
    case CheckStatus::chromeNotInstalled:
        return QStringLiteral("chromeNotInstalled");
    case CheckStatus::connected:
        return QStringLiteral("connected");
    }
    return {};
}

QString OnboardingStep2ViewModel::storePageAddress() const
{
    return OnboardingServices::shared().storePageAddress();
}

void OnboardingStep2ViewModel::setCheckStatus(CheckStatus status)
{
    if (checkStatus_ != status) {
        checkStatus_ = status;
        Q_EMIT checkStatusChanged();
    }
}

void OnboardingStep2ViewModel::startChecking()
{
    if (AppState::shared().isExtensionConnected()) {
        setCheckStatus(CheckStatus::connected);
        return;
    }
    const OnboardingServices& services = OnboardingServices::shared();
    const auto browser = services.browserFinder().findBrowser();
    if (!browser) {
        setCheckStatus(CheckStatus::chromeNotInstalled);
        return;
    }
    if (const QUrl url = parsedAddress(services.connectPageAddress()); !url.isEmpty()) {
        if (const auto error = services.browserFinder().openInBackground(*browser, url)) {
            const QByteArray line = (QStringLiteral("Failed to open Chrome: ") + *error + QLatin1Char('\n')).toUtf8();
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            std::fflush(stdout);
        }
    }
    // Only a check still running gives way: a connection that came and went meanwhile
    // leaves the step connected.
    services.schedule(kRecheckDelay, this, [this] {
        if (checkStatus_ == CheckStatus::checking && !AppState::shared().isExtensionConnected()) {
            setCheckStatus(CheckStatus::notInstalled);
        }
    });
}

void OnboardingStep2ViewModel::openStorePage() const
{
    if (const QUrl url = parsedAddress(storePageAddress()); !url.isEmpty()) {
        Workspace::openUrl(url);
    }
}

#pragma once

#include "shell/ActivityLogWindow.h"
#include "shell/AppDelegate.h"

#include "core/AppState.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

// Receives the addresses the program opens, through QDesktopServices::setUrlHandler.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

// A launched AppDelegate on fresh settings: the server on a free loopback port, no URL-scheme
// registration (the registration has tests of its own), onboarding requests recorded.
class ShellFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsDir_.isValid());
        UserDefaults::setStandardPath(settingsDir_.filePath(QStringLiteral("Mossbridge.conf")));
        ConfigManager::shared().reload();
        ExportHistoryManager::shared().reload();
        AppState::shared().setShowOnboarding(false);
    }

    void TearDown() override
    {
        delegate_.reset();
        testsupport::processEventsFor(std::chrono::milliseconds(5));
    }

    AppDelegate::Options options()
    {
        AppDelegate::Options o;
        o.port = 0;
        o.registerURLScheme = false;
        o.showOnboardingWindow = [this](OnboardingMode mode) { onboardingRequests_.append(mode); };
        return o;
    }

    AppDelegate& launch() { return launch(options()); }
    AppDelegate& launch(AppDelegate::Options o)
    {
        delegate_ = std::make_unique<AppDelegate>(std::move(o));
        delegate_->applicationDidFinishLaunching();
        return *delegate_;
    }

    QString configureVault(const QString& name = QStringLiteral("Notes"))
    {
        const QString path = vaultRoot_.filePath(name);
        QDir().mkpath(path);
        VaultManager().setVaultURL(path);
        return path;
    }

    QString logText() const { return delegate_ ? delegate_->logWindow()->text() : QString(); }
    bool waitForLog(const QString& fragment, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        return testsupport::waitUntil([&] { return logText().contains(fragment); }, timeout);
    }

    QTemporaryDir settingsDir_;
    QTemporaryDir vaultRoot_;
    QList<OnboardingMode> onboardingRequests_;
    std::unique_ptr<AppDelegate> delegate_;
};

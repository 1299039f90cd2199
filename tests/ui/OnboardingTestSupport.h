#pragma once

#include "core/AppState.h"
#include "platform/Application.h"
#include "platform/ApplicationDelegate.h"
#include "platform/BrowserFinder.h"
#include "storage/ConfigManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "ui/FolderChooser.h"
#include "ui/OnboardingServices.h"
#include "ui/OnboardingWindowManager.h"

#include "support/QmlWarningGuard.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace onboardingtest {

// A folder chooser that waits for the test to answer.
class FakeFolderChooser : public FolderChooser {
public:
    void begin(const QString& prompt, const QString& message, Completion completion) override
    {
        prompts.push_back(prompt);
        messages.push_back(message);
        pending = std::move(completion);
    }
    void answer(std::optional<QString> folder)
    {
        auto completion = std::move(pending);
        pending = nullptr;
        completion(std::move(folder));
    }

    std::vector<QString> prompts;
    std::vector<QString> messages;
    Completion pending;
};

// A browser that is installed or not, and records the pages it was asked to open.
class FakeBrowserFinder : public BrowserFinder {
public:
    std::optional<QString> findBrowser() const override { return browser; }
    std::optional<QString> openInBackground(const QString& program, const QUrl& url) const override
    {
        opened.push_back({program, url});
        return openError;
    }

    std::optional<QString> browser = QStringLiteral("/usr/bin/google-chrome-stable");
    std::optional<QString> openError;
    mutable std::vector<std::pair<QString, QUrl>> opened;
};

// The delayed re-check, run when the test says so.
class ManualClock {
public:
    OnboardingServices::Scheduler scheduler()
    {
        return [this](std::chrono::milliseconds delay, QObject* context, std::function<void()> block) {
            scheduled.push_back({delay, QPointer<QObject>(context), std::move(block)});
        };
    }
    // Runs every block scheduled so far whose context still exists.
    void fire()
    {
        auto due = std::move(scheduled);
        scheduled.clear();
        for (auto& entry : due) {
            if (entry.context) {
                entry.block();
            }
        }
    }

    struct Entry {
        std::chrono::milliseconds delay;
        QPointer<QObject> context;
        std::function<void()> block;
    };
    std::vector<Entry> scheduled;
};

// Records the terminate requests the close rule makes; never ends the test program.
class RecordingApplicationDelegate : public ApplicationDelegate {
public:
    TerminateReply applicationShouldTerminate() override
    {
        ++terminateRequests;
        return TerminateReply::terminateCancel;
    }
    void setAllowTerminateFromMenu(bool allow) override { allowTerminateFromMenu = allow; }

    int terminateRequests = 0;
    bool allowTerminateFromMenu = false;
};

// Each test starts with an empty preferences store, no extension, stand-in desktop services
// and a recording application delegate.
class OnboardingFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousStore = UserDefaults::standard().filePath();
        UserDefaults::setStandardPath(dir.filePath(QStringLiteral("store.conf")));
        ConfigManager::shared().reload();
        AppState::shared().setExtensionConnected(false);
        AppState::shared().setShowOnboarding(false);
        // Changes of earlier tests still on their way to observers arrive now, not later.
        testsupport::processEventsFor(std::chrono::milliseconds(5));
        OnboardingServices& services = OnboardingServices::shared();
        services.reset();
        services.setFolderChooser(&chooser);
        services.setBrowserFinder(&browser);
        services.setScheduler(clock.scheduler());
        Application::setDelegate(&delegate);
    }

    void TearDown() override
    {
        Application::setDelegate(nullptr);
        OnboardingServices::shared().reset();
        AppState::shared().setExtensionConnected(false);
        UserDefaults::setStandardPath(previousStore);
        ConfigManager::shared().reload();
    }

    // Makes a folder under the test's directory (and its parents).
    QString makeFolder(const QString& relative)
    {
        const QString path = dir.filePath(relative);
        QDir().mkpath(path);
        return QDir(path).absolutePath();
    }
    // Records a vault folder as the user's choice would.
    QString setVault(const QString& relative = QStringLiteral("vaults/Notes"))
    {
        const QString path = makeFolder(relative);
        VaultManager().setVaultURL(path);
        return path;
    }
    void storeFolder(std::optional<QString> folder)
    {
        ConfigManager::shared().save(UserPreferences{ConfigManager::shared().preferences().vaultBookmark, folder});
    }

    QTemporaryDir dir;
    QString previousStore;
    FakeFolderChooser chooser;
    FakeBrowserFinder browser;
    ManualClock clock;
    RecordingApplicationDelegate delegate;
};

// The warnings a test fails on: the offscreen platform's notes that it cannot raise a window
// are about the test platform, not about the views.
inline QStringList viewWarnings(const testsupport::QmlWarningGuard& guard)
{
    QStringList warnings = guard.warnings();
    warnings.removeIf([](const QString& line) { return line.contains(QStringLiteral("This plugin does not support")); });
    return warnings;
}

// With the shared window manager: each test leaves no window behind and no warning unseen.
class OnboardingWindowFixture : public OnboardingFixture {
protected:
    void TearDown() override
    {
        manager.close();
        testsupport::processEventsFor(std::chrono::milliseconds(20));
        // A closed window is released, not kept.
        EXPECT_TRUE(QGuiApplication::allWindows().isEmpty()) << QGuiApplication::allWindows().size();
        expectNoWarnings();
        OnboardingFixture::TearDown();
    }

    void expectNoWarnings()
    {
        const QStringList warnings = viewWarnings(guard);
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
        guard.clear();
    }

    OnboardingWindowManager& manager = OnboardingWindowManager::shared();
    testsupport::QmlWarningGuard guard;
};

// The view model a view exposes as its "viewModel" property, searched through the item tree.
template <class ViewModel>
ViewModel* findViewModel(QQuickItem* item)
{
    if (item == nullptr) {
        return nullptr;
    }
    if (auto* model = qobject_cast<ViewModel*>(item->property("viewModel").template value<QObject*>())) {
        return model;
    }
    for (QQuickItem* child : item->childItems()) {
        if (auto* found = findViewModel<ViewModel>(child)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace onboardingtest

#include "shell/AppDelegate.h"

#include "core/ActivityLog.h"
#include "core/AppState.h"
#include "core/Dispatch.h"
#include "core/StorageKeys.h"
#include "export/ExportController.h"
#include "export/ExportSessionState.h"
#include "export/MessageDispatcher.h"
#include "link/ChunkAssembler.h"
#include "link/WebSocketServer.h"
#include "platform/Application.h"
#include "platform/ApplicationLauncher.h"
#include "platform/BrowserFinder.h"
#include "platform/DesktopIntegration.h"
#include "platform/DesktopNotifications.h"
#include "platform/SingleInstance.h"
#include "platform/UpdateCheckResult.h"
#include "platform/Updater.h"
#include "platform/Workspace.h"
#include "shell/ActivityLogWindow.h"
#include "shell/KeyEquivalentMonitor.h"
#include "shell/MainWindow.h"
#include "shell/MenuBarIcon.h"
#include "shell/NotificationTapHandler.h"
#include "shell/StatusMenu.h"
#include "shell/StatusSignalObserver.h"
#include "storage/AppConfig.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "ui/OnboardingWindowManager.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {
constexpr int activationDelayMs = 100;

// Every activity-log line also goes to standard error, where the journal collects it.
void writeToStandardError(const QString& line)
{
    const QByteArray text = line.toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    std::fflush(stderr);
}
} // namespace

AppDelegate::AppDelegate()
    : AppDelegate(Options {})
{
}

AppDelegate::AppDelegate(Options options)
    : options_(std::move(options))
{
    if (options_.executablePath.isEmpty()) {
        options_.executablePath = QCoreApplication::applicationFilePath();
    }
    Application::setDelegate(this);
}

AppDelegate::~AppDelegate()
{
    shutdown();
    ActivityLog::shared().setSink({});
    if (Application::delegate() == this) {
        Application::setDelegate(nullptr);
    }
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
        if (keyEventMonitor_ != nullptr) {
            app->removeEventFilter(keyEventMonitor_);
        }
    }
}

void AppDelegate::applicationDidFinishLaunching()
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Every window carries the program's icon (on Wayland the compositor takes the entry's).
    QGuiApplication::setWindowIcon(QIcon(QString::fromLatin1(DesktopIntegration::iconResource)));
    // Terminate requests from anywhere (the session, a toolkit's quit) pass the quit policy.
    QCoreApplication::instance()->installEventFilter(this);

    setupStatusItem();
    setupLogWindow();
    setupMainWindow();

    ConfigManager& config = ConfigManager::shared();
    controller_ = std::make_unique<ExportController>(this,
        ExportServices {ExportHistoryManager::shared(), ChunkAssembler::shared(), VaultManager(config), VaultWriter(config)},
        options_.timings);
    webSocketServer_ = std::make_unique<WebSocketServer>(options_.port, &controller_->dispatcher());
    controller_->setWebSocketServer(webSocketServer_.get());
    webSocketServer_->start();

    statusObserver_ = new StatusSignalObserver(QDBusConnection::sessionBus(), this);
    connect(statusObserver_, &StatusSignalObserver::lastActiveTabURLChanged, this, [this](const QString& url) {
        controller_->state().setLastActiveTabURL(url);
    });

    KeyEquivalentMonitor::Targets targets;
    targets.isOnboardingKeyWindow = [] { return OnboardingWindowManager::shared().isOnboardingKeyWindow(); };
    targets.closeOnboardingWindow = [] { OnboardingWindowManager::shared().handleCloseShortcut(); };
    targets.logWindow = [this] { return logWindow_->windowHandle(); };
    targets.mainWindow = [this]() -> QWindow* { return mainWindow_.get(); };
    targets.hideMainWindow = [this] { closeMainWindow(); };
    targets.quit = [this] {
        allowTerminateFromMenu_ = true;
        Application::requestTerminate();
    };
    keyEventMonitor_ = new KeyEquivalentMonitor(std::move(targets), this);
    QCoreApplication::instance()->installEventFilter(keyEventMonitor_);

    notifications_ = new DesktopNotifications(QStringLiteral("Mossbridge"), QDBusConnection::sessionBus(), this);
    connect(notifications_, &DesktopNotifications::activated, this, &AppDelegate::handleNotificationResponse);
    NotificationTapHandler::Actions tapActions;
    tapActions.openViaUrlScheme = [this](const QString& vault, const QString& file) { openViaUrlScheme(vault, file); };
    tapActions.openUrl = [](const QUrl& url) { return Workspace::openUrl(url); };
    tapActions.openFile = [](const QString& path) { NotificationTapHandler::openFileInObsidian(path); };
    tapActions.sendToExtension = [this](const QByteArray& message) {
        if (webSocketServer_) {
            webSocketServer_->send(message);
        }
    };
    tapActions.activateBrowser = [] {
        ApplicationLauncher::activateRunningApplication(BrowserFinder::windowClasses());
    };
    tapHandler_ = std::make_unique<NotificationTapHandler>(std::move(tapActions));
    requestNotificationAuthorization();

    if (!VaultManager().getVaultURL()) {
        openOnboardingWindow();
    } else if (!UserDefaults::standard().boolValue(QString(StorageKeys::hasLaunchedBefore))) {
        openMainWindow();
    }
    UserDefaults::standard().setBool(QString(StorageKeys::hasLaunchedBefore), true);

    if (options_.registerURLScheme) {
        ensureURLSchemeDefaultHandler();
    }
}

void AppDelegate::attachSingleInstance(SingleInstance& instance, bool runsAlone, const QString& aloneReason)
{
    if (runsAlone) {
        appendLog(QStringLiteral("[WARN] Running without the single-instance service (") + aloneReason
            + QStringLiteral("); later launches and links start programs of their own."));
        return;
    }
    connect(&instance, &SingleInstance::openRequested, this, &AppDelegate::applicationOpenURLs);
    connect(&instance, &SingleInstance::activateRequested, this, [this] { applicationShouldHandleReopen(); });
}

void AppDelegate::shutdown()
{
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (controller_) {
        // Waits for background work, so a note being written is finished, not cut off.
        controller_->shutdown();
    }
    if (webSocketServer_) {
        webSocketServer_->setDelegate(nullptr);
        webSocketServer_->stop();
    }
}

void AppDelegate::setupStatusItem()
{
    statusItem_ = new QSystemTrayIcon(this);
    statusItem_->setIcon(createMenuBarIcon(QSize(18, 18)));
    statusItem_->setToolTip(QStringLiteral("Mossbridge"));
    // A left click opens the same menu as a right click.
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && statusMenu_) {
            statusMenu_->popup(QCursor::pos());
        }
    });
    updateMenu();
    // Headless there is no tray to hold the item (the endpoint still serves).
    if (Application::hasWindowSystem()) {
        statusItem_->show();
    }
    connect(&ExportHistoryManager::shared(), &ExportHistoryManager::historyChanged, this,
        &AppDelegate::updateMenu, Qt::QueuedConnection);
    // The subscription also delivers the current history once.
    QTimer::singleShot(0, this, &AppDelegate::updateMenu);
}

void AppDelegate::updateMenu()
{
    StatusMenu::Actions actions;
    actions.openRecentExport = [this](const ExportHistoryItem& item) { openRecentExport(item); };
    actions.openMainWindow = [this] { openMainWindow(); };
    actions.checkForUpdatesAndActivate = [this] { checkForUpdatesAndActivate(); };
    actions.openFeedbackForm = [this] { openFeedbackForm(); };
    actions.openSettingsWindow = [this] { openSettingsWindow(); };
    actions.quitFromMenu = [this] { quitFromMenu(); };
    std::unique_ptr<QMenu> menu = StatusMenu::build(VaultManager().getVaultURL(),
        ExportHistoryManager::shared().recentSuccessfulExports(), QCoreApplication::applicationVersion(), actions);
    if (statusItem_ != nullptr) {
        statusItem_->setContextMenu(menu.get());
    }
    // The old menu goes only after the tray holds the new one.
    statusMenu_ = std::move(menu);
}

void AppDelegate::updateStatus(const QString& text)
{
    dispatchMainAsync([this, text] {
        if (statusMenu_ && !statusMenu_->actions().isEmpty()) {
            statusMenu_->actions().first()->setText(text);
        }
    });
}

void AppDelegate::setupLogWindow()
{
    logWindow_ = std::make_unique<ActivityLogWindow>();
    ActivityLog::shared().setSink([this](const QString& line) {
        writeToStandardError(line);
        if (logWindow_) {
            logWindow_->appendLine(line);
        }
    });
    appendLog(QStringLiteral("Waiting for extension communication..."));
}

void AppDelegate::setupMainWindow()
{
    mainWindow_ = std::make_unique<MainWindow>();
    connect(mainWindow_.get(), &MainWindow::becameKey, this,
        [] { ExportHistoryManager::shared().refreshFileExistence(); });
    connect(mainWindow_.get(), &MainWindow::willClose, this,
        [] { Application::setActivationPolicy(ActivationPolicy::accessory); });
}

void AppDelegate::openMainWindow()
{
    Application::setActivationPolicy(ActivationPolicy::regular);
    QTimer::singleShot(activationDelayMs, this, [this] {
        if (!mainWindow_) {
            return;
        }
        mainWindow_->ensureContent();
        if (const QScreen* screen = mainWindow_->screen()) {
            const QRect available = screen->availableGeometry();
            mainWindow_->setPosition(available.center() - QPoint(mainWindow_->width() / 2, mainWindow_->height() / 2));
        }
        mainWindow_->show();
        Application::bringForward(mainWindow_.get());
    });
}

void AppDelegate::closeMainWindow()
{
    if (mainWindow_) {
        mainWindow_->hide();
        Application::setActivationPolicy(ActivationPolicy::accessory);
    }
}

void AppDelegate::openLogWindow()
{
    logWindow_->show();
    Application::bringForward(logWindow_->windowHandle());
}

void AppDelegate::showOnboarding(OnboardingMode mode)
{
    if (options_.showOnboardingWindow) {
        options_.showOnboardingWindow(mode);
        return;
    }
    OnboardingWindowManager::shared().show(mode);
}

void AppDelegate::openOnboardingWindow()
{
    showOnboarding(OnboardingMode::onboarding);
}

void AppDelegate::openSettingsWindow()
{
    showOnboarding(OnboardingMode::settings);
}

void AppDelegate::quitFromMenu()
{
    allowTerminateFromMenu_ = true;
    Application::requestTerminate();
}

ApplicationDelegate::TerminateReply AppDelegate::applicationShouldTerminate()
{
    if (allowTerminateFromMenu_ || allowTerminateFromUpdater_) {
        allowTerminateFromMenu_ = false;
        return TerminateReply::terminateNow;
    }
    closeMainWindow();
    return TerminateReply::terminateCancel;
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        if (applicationShouldTerminate() == TerminateReply::terminateCancel) {
            event->ignore();
            return true;
        }
    }
    return false;
}

bool AppDelegate::applicationShouldHandleReopen()
{
    openMainWindow();
    return true;
}

void AppDelegate::applicationOpenURLs(const QStringList& urls)
{
    for (const QString& text : urls) {
        if (QUrl(text).scheme() != QStringLiteral("mossbridge")) {
            continue;
        }
        Application::activateIgnoringOtherApps();
        appendLog(QStringLiteral("Launched via URL scheme: ") + text);
    }
}

void AppDelegate::ensureURLSchemeDefaultHandler()
{
    // It runs helper programs; the launch does not wait for them.
    const QString executable = options_.executablePath;
    dispatchGlobalAsync([executable] {
        DesktopIntegration::ensureURLSchemeDefaultHandler(executable, [](const QString& line) { appendLog(line); });
    });
}

void AppDelegate::openViaUrlScheme(const QString& vaultName, const QString& filePath)
{
    dispatchMainAsync([vaultName, filePath] { Workspace::openViaUrlScheme(vaultName, filePath); });
}

void AppDelegate::openRecentExport(const ExportHistoryItem& item)
{
    openViaUrlScheme(item.vaultName, item.finalPath);
}

std::optional<QString> AppDelegate::postNotification(const QString& title, const QString& body, const QVariantMap& userInfo)
{
    if (notifications_ == nullptr) {
        return QStringLiteral("Notifications are not set up yet.");
    }
    // The server answers later; a refusal is logged then, like a failed request.
    notifications_->post(title, body, userInfo, [](const QString& error) {
        appendLog(QStringLiteral("❌ Failed to schedule notification: ") + error);
    });
    return std::nullopt;
}

void AppDelegate::requestNotificationAuthorization()
{
    notifications_->getAuthorizationStatus([](DesktopNotifications::AuthorizationStatus status) {
        appendLog(QStringLiteral("Initial Notification Settings: ") + QString::number(static_cast<int>(status)));
        if (status == DesktopNotifications::AuthorizationStatus::denied) {
            appendLog(QStringLiteral("⚠️ Notifications are denied in System Settings."));
        } else {
            appendLog(QStringLiteral("Notifications already authorized."));
        }
    });
}

void AppDelegate::handleNotificationResponse(const QVariantMap& userInfo)
{
    if (tapHandler_) {
        tapHandler_->handle(userInfo);
    }
}

Updater* AppDelegate::updaterController()
{
    if (updaterController_ == nullptr) {
        updaterController_ = new Updater(options_.updateFeedAddress, AppConfig::appVersion(), this, this);
    }
    return updaterController_;
}

void AppDelegate::checkForUpdatesAndActivate()
{
    Application::activateIgnoringOtherApps();
    QTimer::singleShot(activationDelayMs, this, [this] {
        updaterController()->checkForUpdates([this](const UpdateCheckResult& result) { presentUpdateResult(result); });
    });
}

void AppDelegate::presentUpdateResult(const UpdateCheckResult& result)
{
    if (options_.presentUpdateResult) {
        options_.presentUpdateResult(result);
        return;
    }
    auto* box = new QMessageBox(result.kind == UpdateCheckResult::Kind::failed ? QMessageBox::Warning : QMessageBox::Information,
        result.title(), result.message());
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (result.kind == UpdateCheckResult::Kind::newerAvailable && result.releasePage.isValid()) {
        QPushButton* open = box->addButton(QStringLiteral("Open Release Page"), QMessageBox::AcceptRole);
        box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
        const QUrl page = result.releasePage;
        connect(open, &QPushButton::clicked, box, [page] { Workspace::openUrl(page); });
    } else {
        box->addButton(QMessageBox::Ok);
    }
    box->open();
}

void AppDelegate::openFeedbackForm()
{
    const QUrl url(options_.feedbackFormAddress, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty()) {
        Workspace::openUrl(url);
    }
}

void AppDelegate::launchObsidian()
{
    if (const std::optional<QString> entry = ApplicationLauncher::obsidianDesktopEntry()) {
        ApplicationLauncher::launch(*entry);
    }
}

void AppDelegate::resetOnboardingDebug()
{
    ConfigManager::shared().removeStoredPreferences();
}

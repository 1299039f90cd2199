#pragma once

#include "core/OnboardingMode.h"
#include "export/ExportShell.h"
#include "export/ExportTimings.h"
#include "platform/ApplicationDelegate.h"
#include "platform/UpdaterDelegate.h"
#include "storage/ExportHistoryItem.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class ActivityLogWindow;
class DesktopNotifications;
class ExportController;
class KeyEquivalentMonitor;
class MainWindow;
class NotificationTapHandler;
class QMenu;
class QSystemTrayIcon;
class SingleInstance;
class StatusSignalObserver;
class Updater;
struct UpdateCheckResult;
class WebSocketServer;

// The one application object's delegate: builds the tray icon, the activity log and the main
// window at launch, owns the extension server and the export controller (which reaches the
// shell only through ExportShell), handles links, notifications and the quit policy.
// Main thread only, except where said.
class AppDelegate : public QObject, public ExportShell, public ApplicationDelegate, public UpdaterDelegate {
    Q_OBJECT

public:
    struct Options {
        quint16 port = 53122;
        // Writes the desktop entry and sets the "mossbridge://" handler at the end of the launch.
        bool registerURLScheme = true;
        // The program the desktop entry starts; the running program when empty.
        QString executablePath;
        QString feedbackFormAddress = QStringLiteral(MOSSBRIDGE_FEEDBACK_URL);
        QString updateFeedAddress = QStringLiteral(MOSSBRIDGE_UPDATE_FEED_URL);
        ExportTimings timings;
        // Opens or reshapes the onboarding window; the onboarding window manager when empty.
        std::function<void(OnboardingMode)> showOnboardingWindow;
        // Shows what an update check found; a message box when empty.
        std::function<void(const UpdateCheckResult&)> presentUpdateResult;
    };

    explicit AppDelegate(Options options);
    AppDelegate();
    ~AppDelegate() override;

    // The launch sequence: tray icon, log window, main window, server, status observer, key
    // monitor, notifications, the first window, "HasLaunchedBefore", and the URL scheme last.
    void applicationDidFinishLaunching();
    // Serves org.freedesktop.Application requests of later launches (or logs why there is none).
    void attachSingleInstance(SingleInstance& instance, bool runsAlone, const QString& aloneReason);
    // After the event loop: lets a running export's writing finish and stops the server.
    void shutdown();

    // ApplicationDelegate: the quit policy.
    TerminateReply applicationShouldTerminate() override;
    void setAllowTerminateFromMenu(bool allow) override { allowTerminateFromMenu_ = allow; }
    // Closing the last window never ends the program; kept as the delegate's answer although Qt
    // asks through quitOnLastWindowClosed, which the launch turns off.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
    // A launch of the running program without links: opens the main window.
    bool applicationShouldHandleReopen();
    // The links the program is asked to open ("mossbridge://…").
    void applicationOpenURLs(const QStringList& urls);

    // UpdaterDelegate.
    void updaterWillInstallUpdate() override { allowTerminateFromUpdater_ = true; }
    void updaterWillRelaunchApplication() override { allowTerminateFromUpdater_ = true; }

    // ExportShell.
    void updateStatus(const QString& text) override;
    void showOnboarding(OnboardingMode mode) override;
    std::optional<QString> postNotification(const QString& title, const QString& body,
        const QVariantMap& userInfo) override;
    void openViaUrlScheme(const QString& vaultName, const QString& filePath) override;

    // Menu and window actions.
    void updateMenu();
    void openMainWindow();
    void closeMainWindow();
    // No menu entry binds the next one; it stays as the shell's way to show the log window.
    void openLogWindow();
    void openOnboardingWindow();
    void openSettingsWindow();
    void quitFromMenu();
    void checkForUpdatesAndActivate();
    void openFeedbackForm();
    void openRecentExport(const ExportHistoryItem& item);
    // No menu entry binds these two; they stay as the shell's actions for starting Obsidian and
    // for forgetting the stored preferences while debugging the onboarding.
    void launchObsidian();
    void resetOnboardingDebug();
    void ensureURLSchemeDefaultHandler();

    // A click on a notification (its user info).
    void handleNotificationResponse(const QVariantMap& userInfo);

    // For the windows and tests.
    bool allowTerminateFromMenu() const { return allowTerminateFromMenu_; }
    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* statusMenu() const { return statusMenu_.get(); }
    ActivityLogWindow* logWindow() const { return logWindow_.get(); }
    MainWindow* mainWindow() const { return mainWindow_.get(); }
    ExportController* exportController() const { return controller_.get(); }
    WebSocketServer* webSocketServer() const { return webSocketServer_.get(); }
    KeyEquivalentMonitor* keyEventMonitor() const { return keyEventMonitor_; }
    Updater* updaterController();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupStatusItem();
    void setupLogWindow();
    void setupMainWindow();
    void requestNotificationAuthorization();
    void presentUpdateResult(const UpdateCheckResult& result);

    Options options_;
    Updater* updaterController_ = nullptr;
    std::unique_ptr<ActivityLogWindow> logWindow_;
    std::unique_ptr<MainWindow> mainWindow_;
    QSystemTrayIcon* statusItem_ = nullptr;
    std::unique_ptr<QMenu> statusMenu_;
    std::unique_ptr<ExportController> controller_;
    std::unique_ptr<WebSocketServer> webSocketServer_;
    KeyEquivalentMonitor* keyEventMonitor_ = nullptr;
    bool allowTerminateFromMenu_ = false;
    bool allowTerminateFromUpdater_ = false;

    DesktopNotifications* notifications_ = nullptr;
    StatusSignalObserver* statusObserver_ = nullptr;
    std::unique_ptr<NotificationTapHandler> tapHandler_;
    bool shutDown_ = false;
};

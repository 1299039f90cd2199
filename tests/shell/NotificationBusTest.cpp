// Notifications, their clicks and the extension's status signal, over this test's own session
// bus, against services the test registers itself.

#include "ShellFixture.h"

#include "support/FakeExtension.h"

#include "export/ExportController.h"
#include "export/ExportResults.h"
#include "export/ExportSessionState.h"
#include "export/ObsidianOpenInfo.h"
#include "link/WebSocketServer.h"
#include "platform/DesktopNotifications.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

using namespace std::chrono_literals;

namespace {

// A notification server that records each Notify and, as a user would, clicks it at once.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Posted {
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    explicit FakeNotificationServer(QDBusConnection bus)
        : bus_(std::move(bus))
    {
    }

    bool registerOn()
    {
        return bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
            && bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    QList<Posted> posted;
    bool clickEach = true;

public Q_SLOTS:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap& hints, int)
    {
        posted.append({appName, summary, body, actions, hints});
        const uint id = nextId_++;
        if (clickEach) {
            QTimer::singleShot(0, this, [this, id] {
                QDBusMessage click = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                    QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
                click << id << QStringLiteral("default");
                bus_.send(click);
            });
        }
        return id;
    }
    QStringList GetServerInformation(QString& vendor, QString& version, QString& protocolVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return {QStringLiteral("Mossbridge tests")};
    }

private:
    QDBusConnection bus_;
    uint nextId_ = 7;
};


class NotificationBus : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        serverBus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notification-server")));
        ASSERT_TRUE(serverBus_->isConnected());
        server_ = std::make_unique<FakeNotificationServer>(*serverBus_);
        QDesktopServices::setUrlHandler(QStringLiteral("obsidian"), &urls_, "open");
    }

    void TearDown() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("obsidian"));
        ShellFixture::TearDown();
        server_.reset();
        serverBus_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
    }

    std::unique_ptr<QDBusConnection> serverBus_;
    std::unique_ptr<FakeNotificationServer> server_;
    UrlRecorder urls_;
};

} // namespace

TEST_F(NotificationBus, ASuccessNotificationIsPostedAndItsClickOpensTheNote)
{
    ASSERT_TRUE(server_->registerOn());
    configureVault();
    AppDelegate& delegate = launch();
    ASSERT_TRUE(waitForLog(QStringLiteral("Initial Notification Settings: 2")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Notifications already authorized.")));

    delegate.exportController()->results().scheduleSuccessNotification(QStringLiteral("Trip plans"),
        ObsidianOpenInfo::make(QStringLiteral("My Vault"), QStringLiteral("Inbox/Trip plans.md")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !urls_.opened.isEmpty(); }));
    ASSERT_EQ(server_->posted.size(), 1);
    const FakeNotificationServer::Posted& posted = server_->posted.first();
    EXPECT_EQ(posted.appName, QStringLiteral("Mossbridge"));
    EXPECT_EQ(posted.summary, QStringLiteral("Mossbridge: \"Trip plans\""));
    EXPECT_EQ(posted.body, QStringLiteral("Click to open 'Trip plans' in Obsidian."));
    EXPECT_TRUE(posted.actions.contains(QStringLiteral("default")));
    EXPECT_TRUE(posted.hints.contains(QStringLiteral("sound-name")));
    // The note's own link wins over the stored obsidianUrl.
    EXPECT_EQ(urls_.opened, QList<QUrl> {QUrl(QStringLiteral("obsidian://open?vault=My%20Vault&file=Inbox/Trip%20plans.md"))});
}

TEST_F(NotificationBus, AFailureNotificationsClickFocusesTheTabThroughTheExtension)
{
    ASSERT_TRUE(server_->registerOn());
    configureVault();
    AppDelegate& delegate = launch();
    FakeExtension extension;
    ASSERT_TRUE(extension.connectTo(delegate.webSocketServer()->listeningPort()));
    ASSERT_TRUE(waitForLog(QStringLiteral("WebSocket Client connected")));

    delegate.exportController()->results().scheduleErrorNotification(QStringLiteral("Trip plans"), QStringLiteral("Export failed"), 12, 3);
    ASSERT_TRUE(extension.waitForCommand(QStringLiteral("focus_tab")));
    const IPCMessage focus = extension.receivedWithCommand(QStringLiteral("focus_tab")).first();
    EXPECT_EQ(focus.type, QStringLiteral("command"));
    EXPECT_EQ(focus.source, QStringLiteral("app"));
    ASSERT_TRUE(focus.args);
    EXPECT_EQ(focus.args->tabId, 12);
    EXPECT_EQ(focus.args->windowId, 3);
    EXPECT_FALSE(focus.args->url);
    EXPECT_EQ(server_->posted.first().body, QStringLiteral("Export failed"));

    // Ids that are not integers do nothing.
    extension.clearReceived();
    delegate.handleNotificationResponse({{QStringLiteral("focusTabId"), QStringLiteral("12a")}, {QStringLiteral("focusWindowId"), QStringLiteral("3")}});
    delegate.handleNotificationResponse({{QStringLiteral("focusTabId"), QStringLiteral("-4")}, {QStringLiteral("focusWindowId"), QStringLiteral("+3")}});
    ASSERT_TRUE(extension.waitForCommand(QStringLiteral("focus_tab")));
    testsupport::processEventsFor(100ms);
    ASSERT_EQ(extension.countCommand(QStringLiteral("focus_tab")), 1);
    EXPECT_EQ(extension.receivedWithCommand(QStringLiteral("focus_tab")).first().args->tabId, -4);
    EXPECT_TRUE(urls_.opened.isEmpty());
    extension.close();
}

TEST_F(NotificationBus, WithoutANotificationServerNotificationsReadAsDeniedAndAFailedPostIsLogged)
{
    AppDelegate& delegate = launch();
    ASSERT_TRUE(waitForLog(QStringLiteral("Initial Notification Settings: 1")));
    ASSERT_TRUE(waitForLog(QStringLiteral("⚠️ Notifications are denied in System Settings.")));
    delegate.exportController()->results().scheduleErrorNotification(QStringLiteral("Chat"), QStringLiteral("Export failed"), std::nullopt, std::nullopt);
    EXPECT_TRUE(waitForLog(QStringLiteral("❌ Failed to schedule notification: ")));
}

TEST_F(NotificationBus, TheExtensionsStatusSignalFromAnySenderIsLoggedAndSetsTheActiveTab)
{
    AppDelegate& delegate = launch();
    auto post = [this](const QString& path, const QVariantMap& info) {
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("app.mossbridge.Mossbridge.status"), QStringLiteral("Post"));
        signal << info;
        ASSERT_TRUE(serverBus_->send(signal));
    };
    post(QStringLiteral("/"), {{QStringLiteral("message"), QStringLiteral("Active tab URL")}, {QStringLiteral("url"), QStringLiteral("https://chat.example/c/42")}});
    ASSERT_TRUE(waitForLog(QStringLiteral("] Active tab URL — https://chat.example/c/42\n")));
    EXPECT_EQ(delegate.exportController()->state().lastActiveTabURL(), QStringLiteral("https://chat.example/c/42"));

    post(QStringLiteral("/native/host"), {{QStringLiteral("message"), QStringLiteral("Host ready")}, {QStringLiteral("path"), QStringLiteral("/usr/lib/host")}});
    ASSERT_TRUE(waitForLog(QStringLiteral("] Host ready (/usr/lib/host)\n")));
    EXPECT_EQ(delegate.exportController()->state().lastActiveTabURL(), QStringLiteral("https://chat.example/c/42"));

    post(QStringLiteral("/"), {{QStringLiteral("message"), QStringLiteral("No active tab")}});
    ASSERT_TRUE(waitForLog(QStringLiteral("] No active tab\n")));
    EXPECT_EQ(delegate.exportController()->state().lastActiveTabURL(), QString());

    post(QStringLiteral("/"), {});
    EXPECT_TRUE(testsupport::waitUntil([&] { return logText().endsWith(QStringLiteral("] \n")); }));
}

#include "NotificationBusTest.moc"

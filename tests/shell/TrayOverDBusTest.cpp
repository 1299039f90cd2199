// The tray icon as a desktop panel sees it: a StatusNotifierItem registered with the watcher,
// and the menu it exports over com.canonical.dbusmenu. Qt publishes the item over D-Bus only on
// a real window system, so this runs under Xvfb (the offscreen platform skips it).

#include "ShellFixture.h"

#include "shell/StatusMenu.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QThread>

#include <mutex>
#include <optional>

namespace {

struct MenuEntry {
    QString label;
    bool enabled = true;
    bool separator = false;
};

void readLayout(const QDBusArgument& argument, QList<MenuEntry>& entries, int depth);

// The panel side: a StatusNotifierWatcher with a host, served from a thread of its own (Qt asks
// it synchronously from the main thread while it sets the icon up).
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        std::lock_guard lock(mutex_);
        return items_;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        std::lock_guard lock(mutex_);
        // Items give either their bus name or an object path on their connection.
        items_.append(service.startsWith(QLatin1Char('/')) ? message.service() + service : service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

public:
    // Reads the item's menu as a panel does (on the panel's thread: the item answers from the
    // main thread).
    void readMenu(const QString& service)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
            QStringLiteral("GetLayout"));
        call << 0 << -1 << QStringList();
        const QDBusMessage reply = QDBusConnection(QStringLiteral("fake-panel")).call(call, QDBus::Block, 5000);
        QList<MenuEntry> entries;
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() >= 2) {
            readLayout(reply.arguments().at(1).value<QDBusArgument>(), entries, 0);
        }
        std::lock_guard lock(mutex_);
        menu_ = entries;
        menuRead_ = true;
    }
    std::optional<QList<MenuEntry>> menu() const
    {
        std::lock_guard lock(mutex_);
        return menuRead_ ? std::optional<QList<MenuEntry>>(menu_) : std::nullopt;
    }

private:
    mutable std::mutex mutex_;
    QStringList items_;
    QList<MenuEntry> menu_;
    bool menuRead_ = false;
};

void readLayout(const QDBusArgument& argument, QList<MenuEntry>& entries, int depth)
{
    int id = 0;
    QVariantMap properties;
    argument.beginStructure();
    argument >> id >> properties;
    if (depth > 0) {
        MenuEntry entry;
        entry.label = properties.value(QStringLiteral("label")).toString();
        entry.enabled = properties.value(QStringLiteral("enabled"), true).toBool();
        entry.separator = properties.value(QStringLiteral("type")).toString() == QStringLiteral("separator");
        entries.append(entry);
    }
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        readLayout(child.variant().value<QDBusArgument>(), entries, depth + 1);
    }
    argument.endArray();
    argument.endStructure();
}

} // namespace

using TrayOverDBus = ShellFixture;

TEST_F(TrayOverDBus, APanelReceivesTheItemAndReadsItsMenu)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "Qt publishes tray items over D-Bus only on a window system (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    }
    FakeWatcher watcher;
    QThread panel;
    watcher.moveToThread(&panel);
    panel.start();
    bool registered = false;
    QMetaObject::invokeMethod(
        &watcher,
        [&registered, &watcher] {
            QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-panel"));
            registered = bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties)
                && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(registered);

    configureVault(QStringLiteral("Work Notes"));
    launch();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !watcher.items().isEmpty(); })) << "no item was registered with the watcher";
    const QString item = watcher.items().first();
    const QString service = item.section(QLatin1Char('/'), 0, 0);

    // The first history delivery rebuilds the menu once more; read it after that.
    testsupport::processEventsFor(std::chrono::milliseconds(200));
    QMetaObject::invokeMethod(&watcher, [&watcher, service] { watcher.readMenu(service); }, Qt::QueuedConnection);
    ASSERT_TRUE(testsupport::waitUntil([&] { return watcher.menu().has_value(); }));
    const QList<MenuEntry> entries = *watcher.menu();

    QStringList labels;
    for (const MenuEntry& entry : entries) {
        labels.append(entry.separator ? QStringLiteral("---") : entry.label + (entry.enabled ? QString() : QStringLiteral(" (off)")));
    }
    EXPECT_EQ(labels, (QStringList {"Vault: Work Notes (off)", "---", "  (No exports yet) (off)", "---", "Export History...", "---",
                          "Check for Updates...", "Send Feedback...", "Change Vault...", "---",
                          StatusMenu::versionEntryText(QCoreApplication::applicationVersion()) + QStringLiteral(" (off)"),
                          "Quit Mossbridge"}))
        << labels.join(u'|').toStdString();

    TearDown();
    QMetaObject::invokeMethod(
        &watcher, [] { QDBusConnection::disconnectFromBus(QStringLiteral("fake-panel")); }, Qt::BlockingQueuedConnection);
    panel.quit();
    panel.wait();
}

#include "TrayOverDBusTest.moc"

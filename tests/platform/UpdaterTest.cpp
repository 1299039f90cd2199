#include "platform/Updater.h"

#include "support/TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <optional>

namespace {

QByteArray feed(const QStringList& versions)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><title>Mossbridge</title>";
    for (const QString& version : versions) {
        xml += "<item><title>Mossbridge " + version.toUtf8() + "</title><link>https://mossbridge.example/releases/" + version.toUtf8()
            + "</link><enclosure url=\"https://mossbridge.example/mossbridge-" + version.toUtf8() + ".tar.gz\" sparkle:version=\""
            + version.toUtf8() + "\" length=\"1\" type=\"application/octet-stream\"/></item>";
    }
    return xml + "</channel></rss>";
}

// Serves one HTTP answer on the loopback interface.
class OneShotHttpServer {
public:
    explicit OneShotHttpServer(QByteArray body)
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this, body] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, body] {
                if (!socket->readAll().contains("\r\n\r\n")) {
                    return;
                }
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\nContent-Length: "
                    + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort()); }

private:
    QTcpServer server_;
};

std::optional<UpdateCheckResult> check(const QString& feedAddress, const QString& currentVersion)
{
    Updater updater(feedAddress, currentVersion, nullptr);
    std::optional<UpdateCheckResult> result;
    updater.checkForUpdates([&result](const UpdateCheckResult& outcome) { result = outcome; });
    testsupport::waitUntil([&result] { return result.has_value(); });
    return result;
}

} // namespace

TEST(Updater, ComparesTheFeedsNewestReleaseNumerically)
{
    using Kind = UpdateCheckResult::Kind;
    const struct {
        const char* name;
        QByteArray feed;
        QString current;
        Kind kind;
        QString latest;
    } cases[] = {
        {"a newer release", feed({"0.9.0", "0.10.0"}), "0.9.5", Kind::newerAvailable, "0.10.0"},
        {"the same version", feed({"0.10.0"}), "0.10.0", Kind::upToDate, "0.10.0"},
        {"an older feed", feed({"0.8.1"}), "0.10.0", Kind::upToDate, "0.8.1"},
        {"no release in it", feed({}), "0.1.0", Kind::failed, ""},
        {"not a feed", "<html><body>Not found</body></html>", "0.1.0", Kind::failed, ""},
        {"broken XML", "<rss><channel><item>", "0.1.0", Kind::failed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const UpdateCheckResult result = Updater::evaluate(c.feed, c.current);
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.latestVersion, c.latest);
        EXPECT_FALSE(result.message().isEmpty());
    }
    const UpdateCheckResult newer = Updater::evaluate(feed({"0.10.0"}), QStringLiteral("0.9.5"));
    EXPECT_EQ(newer.releasePage, QUrl(QStringLiteral("https://mossbridge.example/releases/0.10.0")));
    EXPECT_EQ(newer.message(), QStringLiteral("Mossbridge 0.10.0 is available; you have 0.9.5."));
}

TEST(Updater, ReadsTheFeedOverTheNetwork)
{
    OneShotHttpServer server(feed({"1.2.0"}));
    const std::optional<UpdateCheckResult> result = check(server.address(), QStringLiteral("1.1.9"));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, UpdateCheckResult::Kind::newerAvailable) << result->error.toStdString();
    EXPECT_EQ(result->latestVersion, QStringLiteral("1.2.0"));
}

TEST(Updater, SaysWhenItCannotCheck)
{
    using Kind = UpdateCheckResult::Kind;
    const struct {
        const char* name;
        QString address;
        Kind kind;
    } cases[] = {
        {"no feed in this build", "", Kind::noFeed},
        {"plain HTTP off the loopback", "http://updates.mossbridge.example/appcast.xml", Kind::failed},
        {"nobody listening", "http://127.0.0.1:1/appcast.xml", Kind::failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<UpdateCheckResult> result = check(c.address, QStringLiteral("1.0.0"));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->kind, c.kind);
        if (c.kind == Kind::failed) {
            EXPECT_FALSE(result->error.isEmpty());
        }
    }
}

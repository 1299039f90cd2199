#include "link/SocketOwnerLookup.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using testsupport::waitUntil;

namespace {

// A listener and one accepted connection to it, both ends in this process.
struct LoopbackPair {
    QTcpServer server;
    std::unique_ptr<QTcpSocket> client = std::make_unique<QTcpSocket>();
    QTcpSocket* accepted = nullptr;

    bool open(const QHostAddress& host)
    {
        if (!server.listen(host)) {
            return false;
        }
        client->connectToHost(host, server.serverPort());
        waitUntil([&] { return server.hasPendingConnections() && client->state() == QAbstractSocket::ConnectedState; });
        accepted = server.nextPendingConnection();
        return accepted != nullptr;
    }
};

QByteArray procTable(const char* name)
{
    QFile file(QStringLiteral("/proc/net/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SocketOwnerLookup, FindsTheOwnerOfOurOwnPeerOnBothLoopbacks)
{
    for (const QHostAddress& host : {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        SCOPED_TRACE(host.toString().toStdString());
        LoopbackPair pair;
        if (!pair.open(host)) {
            ASSERT_NE(host, QHostAddress(QHostAddress::LocalHost)) << "no connection over 127.0.0.1";
            continue; // a machine without ::1
        }
        EXPECT_EQ(SocketOwnerLookup::peerOwner(*pair.accepted), ::geteuid());

        // The same answer from the text table the kernel prints, so its decoding is checked
        // against the real byte order.
        const QByteArray table = procTable(host.protocol() == QAbstractSocket::IPv4Protocol ? "tcp" : "tcp6");
        EXPECT_EQ(SocketOwnerLookup::ownerInTable(table, pair.accepted->peerAddress(), pair.accepted->peerPort(),
                      pair.accepted->localAddress(), pair.accepted->localPort()),
            ::geteuid());

        // The server's own end is not the peer, and a closed peer (even one the kernel still
        // keeps, owned by nobody) is found no more.
        const quint16 peerPort = pair.accepted->peerPort();
        EXPECT_FALSE(SocketOwnerLookup::ownerOf(pair.accepted->localAddress(), pair.accepted->localPort(),
            pair.accepted->localAddress(), quint16(peerPort + 1)));
        pair.client->abort();
        pair.client.reset();
        EXPECT_FALSE(SocketOwnerLookup::peerOwner(*pair.accepted));
    }
}

// An IPv6 socket may connect to an IPv4 listener through the IPv4-mapped address; the server
// then sees a plain IPv4 peer, whose socket is listed among the IPv6 ones.
TEST(SocketOwnerLookup, FindsADualStackPeerThatUsedAMappedAddress)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    const int v6only = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
    sockaddr_in6 target {};
    target.sin6_family = AF_INET6;
    target.sin6_port = htons(server.serverPort());
    ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &target.sin6_addr), 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target), 0);

    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    ASSERT_EQ(accepted->peerAddress().protocol(), QAbstractSocket::IPv4Protocol);
    EXPECT_EQ(SocketOwnerLookup::peerOwner(*accepted), ::geteuid());
    EXPECT_EQ(SocketOwnerLookup::ownerInTable(procTable("tcp6"), accepted->peerAddress(), accepted->peerPort(),
                  accepted->localAddress(), accepted->localPort()),
        ::geteuid());
}

TEST(SocketOwnerLookup, ReadsTheKernelsTextTable)
{
    // Little-endian words, as the kernel prints them on this kind of machine. Rows 0 to 2 are a
    // listener, a time-wait and an orphaned socket (no inode: closed by its process) on the
    // looked-up ports; then the real peers.
    const QByteArray table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:D431 00000000:0000 0A 00000000:00000000 00:00000000 00000000   111        0 1 1\n"
        "   1: 0100007F:D431 0100007F:CF12 06 00000000:00000000 03:00001000 00000000     0        0 0 3\n"
        "   2: 0100007F:D431 0100007F:CF13 05 00000000:00000000 00:00000000 00000000     0        0 0 1\n"
        "   3: 0100007F:D431 0100007F:CF12 01 00000000:00000000 00:00000000 00000000  1000        0 2 1\n"
        "   4: 00000000000000000000000001000000:D431 00000000000000000000000001000000:CF12 01 "
        "00000000:00000000 00:00000000 00000000  1001        0 3 1\n"
        "   5: 0000000000000000FFFF00000100007F:D432 0000000000000000FFFF00000100007F:CF12 01 "
        "00000000:00000000 00:00000000 00000000  1002        0 4 1\n";
    if (QSysInfo::ByteOrder != QSysInfo::LittleEndian) {
        GTEST_SKIP() << "the sample table is written for a little-endian machine";
    }

    struct Case {
        const char* local;
        quint16 localPort;
        const char* remote;
        quint16 remotePort;
        std::optional<uid_t> owner;
    };
    const Case cases[] = {
        {"127.0.0.1", 0xD431, "127.0.0.1", 0xCF12, 1000},
        {"::1", 0xD431, "::1", 0xCF12, 1001},
        {"127.0.0.1", 0xD432, "127.0.0.1", 0xCF12, 1002}, // the mapped row
        {"::ffff:127.0.0.1", 0xD432, "127.0.0.1", 0xCF12, 1002},
        {"127.0.0.1", 0xD431, "127.0.0.1", 0xCF13, std::nullopt}, // only closed or listening rows
        {"127.0.0.1", 0xD431, "127.0.0.1", 0xCF14, std::nullopt},
        {"127.0.0.2", 0xD431, "127.0.0.1", 0xCF12, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.local) + " " + std::to_string(c.localPort));
        EXPECT_EQ(SocketOwnerLookup::ownerInTable(table, QHostAddress(QString::fromLatin1(c.local)), c.localPort,
                      QHostAddress(QString::fromLatin1(c.remote)), c.remotePort),
            c.owner);
    }
    EXPECT_FALSE(SocketOwnerLookup::ownerInTable("not a table\n   0: zz:zz\n", QHostAddress::LocalHost, 1,
        QHostAddress::LocalHost, 2));
}

} // namespace

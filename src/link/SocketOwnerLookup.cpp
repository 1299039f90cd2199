#include "link/SocketOwnerLookup.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QFile>
#include <QList>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace {

// An address in its IPv6 form (IPv4 as ::ffff:a.b.c.d, so both spellings compare equal) and a port.
struct Endpoint {
    std::array<quint8, 16> address {};
    quint16 port = 0;

    bool operator==(const Endpoint&) const = default;

    bool isIpv4() const
    {
        static constexpr std::array<quint8, 12> mappedPrefix {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        return std::equal(mappedPrefix.begin(), mappedPrefix.end(), address.begin());
    }
};

Endpoint endpoint(const QHostAddress& host, quint16 port)
{
    Endpoint result;
    result.port = port;
    bool isV4 = false;
    const quint32 v4 = host.toIPv4Address(&isV4); // also true for an IPv4-mapped IPv6 address
    if (isV4) {
        result.address[10] = 0xff;
        result.address[11] = 0xff;
        result.address[12] = quint8(v4 >> 24);
        result.address[13] = quint8(v4 >> 16);
        result.address[14] = quint8(v4 >> 8);
        result.address[15] = quint8(v4);
    } else {
        const Q_IPV6ADDR v6 = host.toIPv6Address();
        std::memcpy(result.address.data(), v6.c, result.address.size());
    }
    return result;
}

// A row that stands for a socket some process still holds. Listeners are not peers; closed
// sockets the kernel keeps for a while (time-wait, orphans) and half-open ones have no file,
// report inode 0 and owner 0, and must not pass for root's.
bool isHeldConnection(int state, quint64 inode)
{
    return inode != 0 && state != TCP_LISTEN && state != TCP_TIME_WAIT && state != 12 /* TCP_NEW_SYN_RECV */;
}

enum class Outcome { found, notFound, unavailable };

struct Answer {
    Outcome outcome = Outcome::unavailable;
    uid_t uid = 0;
};

class NetlinkSocket {
public:
    NetlinkSocket()
        : fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG))
    {
        if (fd >= 0) {
            // The kernel answers while handling the request; this only guards against a hang.
            const timeval timeout {1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        }
    }
    ~NetlinkSocket()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    const int fd;
};

// One exact lookup by the connection's four-tuple (what `ss` does for a single socket).
Answer askKernel(int family, const Endpoint& local, const Endpoint& remote)
{
    NetlinkSocket netlink;
    if (netlink.fd < 0) {
        return {};
    }

    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request {};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.body.sdiag_family = quint8(family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    request.body.id.idiag_sport = htons(local.port);
    request.body.id.idiag_dport = htons(remote.port);
    if (family == AF_INET) {
        std::memcpy(request.body.id.idiag_src, local.address.data() + 12, 4);
        std::memcpy(request.body.id.idiag_dst, remote.address.data() + 12, 4);
    } else {
        std::memcpy(request.body.id.idiag_src, local.address.data(), 16);
        std::memcpy(request.body.id.idiag_dst, remote.address.data(), 16);
    }
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(netlink.fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
            sizeof kernel)
        < 0) {
        return {};
    }

    alignas(nlmsghdr) char buffer[8192];
    const ssize_t length = ::recv(netlink.fd, buffer, sizeof buffer, 0);
    if (length < 0) {
        return {};
    }
    // Walked by hand: NLMSG_OK/NLMSG_NEXT mix signed and unsigned lengths.
    const std::size_t received = std::size_t(length);
    for (std::size_t offset = 0; offset + sizeof(nlmsghdr) <= received;) {
        auto* message = reinterpret_cast<nlmsghdr*>(buffer + offset);
        if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > received - offset) {
            break;
        }
        offset += NLMSG_ALIGN(message->nlmsg_len);
        if (message->nlmsg_type == NLMSG_ERROR) {
            const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
            return {error->error == -ENOENT ? Outcome::notFound : Outcome::unavailable, 0};
        }
        if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY
            || message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
            continue;
        }
        const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
        // Without a full match the kernel may hand back a listener on the same local port.
        if (!isHeldConnection(found->idiag_state, found->idiag_inode)
            || found->id.idiag_dport != htons(remote.port)) {
            return {Outcome::notFound, 0};
        }
        return {Outcome::found, found->idiag_uid};
    }
    return {};
}

std::optional<quint32> hexNumber(QByteArrayView text)
{
    bool ok = false;
    const uint value = QByteArray(text.data(), text.size()).toUInt(&ok, 16);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

// "0100007F:D3A2" (IPv4) or 32 hex digits and a port (IPv6). The kernel prints each 32-bit
// word of the address as it lies in memory, so the bytes come back by copying the word.
std::optional<Endpoint> tableEndpoint(QByteArrayView text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon != 8 && colon != 32) {
        return std::nullopt;
    }
    const auto port = hexNumber(text.sliced(colon + 1));
    if (!port || *port > 0xffff) {
        return std::nullopt;
    }
    std::array<quint8, 16> bytes {};
    const qsizetype words = colon / 8;
    for (qsizetype i = 0; i < words; ++i) {
        const auto word = hexNumber(text.sliced(i * 8, 8));
        if (!word) {
            return std::nullopt;
        }
        std::memcpy(bytes.data() + i * 4, &*word, 4);
    }
    Endpoint result;
    result.port = quint16(*port);
    if (words == 1) {
        result.address[10] = 0xff;
        result.address[11] = 0xff;
        std::memcpy(result.address.data() + 12, bytes.data(), 4);
    } else {
        result.address = bytes;
    }
    return result;
}

std::optional<uid_t> findInTable(QByteArrayView table, const Endpoint& local, const Endpoint& remote)
{
    const QList<QByteArray> lines = QByteArray(table.data(), table.size()).split('\n');
    for (const QByteArray& line : lines) {
        // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 10 || !fields[0].endsWith(':')) {
            continue; // the heading, or a blank line
        }
        const auto rowLocal = tableEndpoint(fields[1]);
        const auto rowRemote = tableEndpoint(fields[2]);
        const auto state = hexNumber(fields[3]);
        bool uidOk = false;
        const uint uid = fields[7].toUInt(&uidOk);
        const quint64 inode = fields[9].toULongLong();
        if (rowLocal == local && rowRemote == remote && state && isHeldConnection(int(*state), inode) && uidOk) {
            return uid_t(uid);
        }
    }
    return std::nullopt;
}

std::optional<uid_t> findInProc(const Endpoint& local, const Endpoint& remote)
{
    // An IPv4 connection may belong to an IPv6 socket using mapped addresses, listed in tcp6.
    QList<QString> tables {QStringLiteral("/proc/net/tcp6")};
    if (local.isIpv4() && remote.isIpv4()) {
        tables.prepend(QStringLiteral("/proc/net/tcp"));
    }
    for (const QString& path : tables) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        if (const auto uid = findInTable(file.readAll(), local, remote)) {
            return uid;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<uid_t> SocketOwnerLookup::ownerOf(const QHostAddress& local, quint16 localPort,
    const QHostAddress& remote, quint16 remotePort)
{
    const Endpoint ours = endpoint(local, localPort);
    const Endpoint theirs = endpoint(remote, remotePort);
    const bool ipv4 = ours.isIpv4() && theirs.isIpv4();

    Answer answer = askKernel(ipv4 ? AF_INET : AF_INET6, ours, theirs);
    if (answer.outcome == Outcome::notFound && ipv4) {
        answer = askKernel(AF_INET6, ours, theirs); // a dual-stack socket on a mapped address
    }
    switch (answer.outcome) {
    case Outcome::found:
        return answer.uid;
    case Outcome::notFound:
        return std::nullopt;
    case Outcome::unavailable:
        break;
    }
    return findInProc(ours, theirs);
}

std::optional<uid_t> SocketOwnerLookup::peerOwner(const QAbstractSocket& socket)
{
    // The peer's socket sees our end as its remote end.
    return ownerOf(socket.peerAddress(), socket.peerPort(), socket.localAddress(), socket.localPort());
}

std::optional<uid_t> SocketOwnerLookup::ownerInTable(QByteArrayView table, const QHostAddress& local,
    quint16 localPort, const QHostAddress& remote, quint16 remotePort)
{
    return findInTable(table, endpoint(local, localPort), endpoint(remote, remotePort));
}

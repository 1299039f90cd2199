#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QtGlobal>

#include <sys/types.h>

#include <optional>

class QAbstractSocket;

// Finds the account that owns one end of a TCP connection on this machine, from the kernel's
// socket table (sock_diag netlink; /proc/net/tcp and tcp6 where netlink is not available).
class SocketOwnerLookup {
public:
    // The owner of the TCP socket whose own end is local:localPort and whose other end is
    // remote:remotePort. IPv4 addresses also match a dual-stack socket that uses their
    // IPv4-mapped form. Nothing when no such socket is found.
    static std::optional<uid_t> ownerOf(const QHostAddress& local, quint16 localPort,
        const QHostAddress& remote, quint16 remotePort);

    // The owner of the far end of `socket`, a connection accepted on this machine.
    static std::optional<uid_t> peerOwner(const QAbstractSocket& socket);

    // Looks the socket up in the text of /proc/net/tcp or /proc/net/tcp6.
    static std::optional<uid_t> ownerInTable(QByteArrayView table, const QHostAddress& local,
        quint16 localPort, const QHostAddress& remote, quint16 remotePort);
};

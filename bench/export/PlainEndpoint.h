#pragma once

#include <QList>
#include <QString>
#include <QWebSocketServer>

class QWebSocket;

// The floor of the socket phases: a plain QWebSocketServer on this thread, on the loopback
// interface, handling the extension's messages with the least work that still takes the
// bytes in (the base64 of each chunk decoded, nothing else parsed). One client.
class PlainEndpoint {
public:
    PlainEndpoint();

    quint16 port() const { return server_.serverPort(); }
    bool waitForClient(int timeoutMs);
    // From sending "capture_start" to the "capture_complete" after the chunks, in seconds;
    // negative on a time-out.
    double receiveCapture(int timeoutMs);
    // From sending every request at once to the last "save_file_complete", in seconds;
    // negative on a time-out. Each answer is followed by `perAnswer`, as the export shows
    // its progress for each.
    double roundTrips(const QList<QString>& requests, const QList<QString>& perAnswer, int timeoutMs);

private:
    QWebSocketServer server_;
    QWebSocket* client_ = nullptr;
};

#include "core/MemoryTuning.h"
#include "link/WebSocketServer.h"
#include "link/WebSocketServerDelegate.h"

#include <QApplication>

#include <cstdio>

namespace {

// Writes everything the server reports to standard error until the application shell takes
// over as the server's delegate.
class StderrDelegate : public WebSocketServerDelegate {
public:
    void serverDidReceiveMessage(WebSocketServer&, const QByteArray& message) override
    {
        write(QStringLiteral("Message: %1 bytes").arg(message.size()));
    }
    void serverDidLog(WebSocketServer&, const QString& line) override { write(line); }
    void serverDidConnect(WebSocketServer&) override { write(QStringLiteral("Extension connected")); }
    void serverDidDisconnect(WebSocketServer&) override { write(QStringLiteral("Extension disconnected")); }

private:
    static void write(const QString& line)
    {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    }
};

} // namespace

int main(int argc, char* argv[])
{
    tuneAllocatorForLargeBuffers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mossbridge"));
    QApplication::setApplicationVersion(QStringLiteral(MOSSBRIDGE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.mossbridge.Mossbridge"));

    StderrDelegate delegate;
    WebSocketServer server(53122, &delegate);
    server.start();

    const int status = app.exec();
    server.setDelegate(nullptr);
    return status;
}

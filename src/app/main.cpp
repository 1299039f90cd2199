#include "ConsoleShell.h"

#include "core/ActivityLog.h"
#include "core/MemoryTuning.h"
#include "export/ExportController.h"
#include "link/WebSocketServer.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    tuneAllocatorForLargeBuffers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mossbridge"));
    QApplication::setApplicationVersion(QStringLiteral(MOSSBRIDGE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.mossbridge.Mossbridge"));

    // Until the activity log window exists its lines go to standard error.
    ActivityLog::shared().setSink([](const QString& line) { ConsoleShell::write(line); });

    ConsoleShell shell;
    ExportController controller(&shell);
    WebSocketServer server(53122, &controller);
    controller.setWebSocketServer(&server);
    server.start();

    const int status = app.exec();
    controller.shutdown();
    server.setDelegate(nullptr);
    server.stop();
    return status;
}

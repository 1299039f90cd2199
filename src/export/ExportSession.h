#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The state of the one running export.
struct ExportSession {
    QString sessionId;
    qint64 tabId = 0;
    qint64 windowId = 0;
    // "starting", "scrolling", "capturing", "downloading", "error" or "complete".
    QString status = QStringLiteral("starting");
    qint64 currentProgress = 0;
    qint64 totalProgress = 0;
    std::optional<QString> chatTitle;
    double startScrollTop = 0.0;
    qint64 startWindowScrollX = 0;
    qint64 startWindowScrollY = 0;
    // The extension's message that waits for the export's end: its "invoke_export", then the
    // message that handed over the page once processing starts.
    std::optional<QString> replyRequestId;
};

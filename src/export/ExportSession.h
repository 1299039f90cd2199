#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The state of the one running export.
struct ExportSession {
    // The phase of the export. Nothing sets `complete`: a session in it, like one in `error`,
    // counts as finished, so that another tab may start its export.
    enum class Status { starting, scrolling, capturing, downloading, error, complete };
    // The status as the extension reads it: "starting", "scrolling", "capturing",
    // "downloading", "error" or "complete".
    static QString wireText(Status status);

    bool isFinished() const { return status == Status::complete || status == Status::error; }

    QString sessionId;
    qint64 tabId = 0;
    qint64 windowId = 0;
    Status status = Status::starting;
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

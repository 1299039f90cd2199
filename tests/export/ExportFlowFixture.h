#pragma once

#include "ExportFixture.h"
#include "ScriptedChat.h"

#include "support/ChatPage.h"

#include <chrono>
#include <functional>
#include <optional>

inline IPCArgs tabArgs(qint64 tab, qint64 window)
{
    IPCArgs args;
    args.tabId = tab;
    args.windowId = window;
    return args;
}

// The first message from `from` on that matches, or -1.
inline qsizetype indexOf(const QList<IPCMessage>& messages, const std::function<bool(const IPCMessage&)>& match,
    qsizetype from = 0)
{
    for (qsizetype i = from; i < messages.size(); ++i) {
        if (match(messages[i])) {
            return i;
        }
    }
    return -1;
}

inline std::function<bool(const IPCMessage&)> isCommand(const QString& command)
{
    return [command](const IPCMessage& m) { return m.command == command; };
}

inline bool isExportReply(const IPCMessage& m, const QString& requestId)
{
    return m.command == QStringLiteral("exportMarkdown") && m.request_id == requestId
        && (m.type == QStringLiteral("response") || m.type == QStringLiteral("error"));
}

// Whole exports against the scripted chat: the small chat page, two of its three images
// downloadable.
class ExportFlowFixture : public ExportFixture {
public:
    virtual ExportTimings flowTimings() { return fastTimings(); }
    void SetUp() override
    {
        start(flowTimings());
        chat_.page = chatPage(true);
        chat_.downloads = {
            {QStringLiteral("https://poecdn.net/a/one.png"), QByteArray("PNG-ONE-") + QByteArray(300, 'a')},
            {QStringLiteral("https://poecdn.net/b/two.png"), QByteArray("PNG-TWO")},
        };
        extension_.setScript(chat_.script());
    }

    void invoke(qint64 tab = 5, qint64 window = 9, const QString& requestId = QStringLiteral("invoke-") + freshId())
    {
        extension_.send(command(QStringLiteral("invoke_export"), tabArgs(tab, window), requestId));
    }

    std::optional<IPCMessage> waitForExportReply(const QString& requestId, std::chrono::seconds timeout = std::chrono::seconds(20))
    {
        if (!extension_.waitFor([&](const IPCMessage& m) { return isExportReply(m, requestId); }, timeout)) {
            return std::nullopt;
        }
        for (const IPCMessage& m : extension_.received()) {
            if (isExportReply(m, requestId)) {
                return m;
            }
        }
        return std::nullopt;
    }

    bool waitForMarkerQueries(int count)
    {
        return testsupport::waitUntil([&] { return chat_.markerQueries.load() >= count; });
    }

    std::optional<IPCMessage> askSessionStatus()
    {
        const QString id = freshId();
        extension_.send(command(QStringLiteral("get_session_status"), std::nullopt, id));
        if (!extension_.waitFor([&](const IPCMessage& m) { return m.request_id == id; })) {
            return std::nullopt;
        }
        for (const IPCMessage& m : extension_.received()) {
            if (m.request_id == id) {
                return m;
            }
        }
        return std::nullopt;
    }

    ScriptedChat chat_;
};

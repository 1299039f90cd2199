#pragma once

#include "ExportFixture.h"
#include "ScriptedChat.h"

#include <chrono>
#include <optional>

// A small chat page: one question, one answer with (on request) three images, of which the
// scripted chat below has two and refuses the third.
inline QByteArray chatPage(bool withImages)
{
    const QByteArray images = withImages
        ? QByteArray(R"(<img src="https://poecdn.net/a/one.png"><img src="https://poecdn.net/b/two.png">)"
                     R"(<img src="https://poecdn.net/c/gone.png">)")
        : QByteArray();
    return QByteArray(R"(<html><head><title>Trip plan - Poe</title></head><body>)"
                      R"(<div class="ChatMessagesView_tupleGroupContainer__a">)"
                      R"(<div class="MessageDate_container__d">Today</div>)"
                      R"(<div class="ChatMessage_chatMessage__1" data-message-id="1"><div class="Message_rightSideMessageWrapper__r">)"
                      R"(<div class="Message_messageBubble__b"><p>Where should we go?</p></div></div></div>)"
                      R"(<div class="ChatMessage_chatMessage__2" data-message-id="2">)"
                      R"(<div class="BotHeader_textContainer__t"><p>Guide</p></div>)"
                      R"(<div class="Message_messageBubble__b"><div class="Markdown_markdownContainer__m"><p>Lisbon é lindo.</p>)")
        + images + QByteArray(R"(</div></div></div></div></body></html>)");
}

inline IPCArgs tabArgs(qint64 tab, qint64 window)
{
    IPCArgs args;
    args.tabId = tab;
    args.windowId = window;
    return args;
}

inline bool isExportReply(const IPCMessage& m, const QString& requestId)
{
    return m.command == QStringLiteral("exportMarkdown") && m.request_id == requestId
        && (m.type == QStringLiteral("response") || m.type == QStringLiteral("error"));
}

// Whole exports against the scripted chat: the page above, two of its images downloadable.
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

#pragma once

#include <QByteArray>

// A small chat page in the site's markup: one question and one answer, with (on request) three
// images in the answer.
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

#include "TinyElementPage.h"

QByteArray generateTinyElementPage(int elements)
{
    const QByteArray head = "<!DOCTYPE html><html><head><title>Tiny - Poe</title></head><body>"
                            "<div class=\"ChatMessage_chatMessage__abc\" data-message-id=\"1\">"
                            "<div class=\"Message_messageBubble__m\">";
    const QByteArray tail = "</div></div></body></html>";
    QByteArray page;
    page.reserve(head.size() + qsizetype(elements) * 8 + tail.size());
    page += head;
    for (int i = 0; i < elements; ++i)
        page += "<b>x</b>";
    page += tail;
    return page;
}

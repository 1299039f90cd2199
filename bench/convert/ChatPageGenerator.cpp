#include "ChatPageGenerator.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

// A small fixed-seed generator: the page must be byte-for-byte the same on every run.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next()
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return std::uint32_t(state_ >> 33);
    }
    int below(int n) { return int(next() % std::uint32_t(n)); }

private:
    std::uint64_t state_;
};

constexpr std::array kWords = {
    "the", "plan", "route", "train", "hotel", "budget", "museum", "river", "morning", "walk",
    "ticket", "station", "coffee", "market", "bridge", "evening", "dinner", "local", "quiet",
    "castle", "garden", "north", "south", "weather", "rain", "sunny", "map", "guide", "price",
    "café", "naïve", "über", "déjà", "✓", "→", "data", "value", "function", "result", "list",
    "option", "simple", "faster", "memory", "string", "parser", "table", "column", "row", "and",
    "with", "for", "from", "into", "about", "which", "should", "would", "could", "then",
};

constexpr std::array kDayLabels = {
    "Monday", "Tuesday", "Dec 31", "Mar 5", "Yesterday", "Today",
};

class PageWriter {
public:
    PageWriter(qint64 target, int images) : target_(target), images_(images), rng_(20240305)
    {
        out_.reserve(qsizetype(target + 256 * 1024));
    }

    QByteArray take()
    {
        writeHead();
        writeChrome();
        // Estimated answers on the page, to spread the images evenly.
        const qint64 perPair = 5200;
        const qint64 pairs = std::max<qint64>(1, target_ / perPair);
        imageEvery_ = images_ > 0 ? std::max<qint64>(1, pairs / images_) : 0;

        const int groups = int(kDayLabels.size());
        out_ += "<div class=\"ChatMessagesView_infiniteScroll__Ab3\">";
        for (int g = 0; g < groups; ++g) {
            const qint64 groupEnd = qint64(out_.size()) + (target_ - qint64(out_.size())) / (groups - g);
            out_ += "<div class=\"ChatMessagesView_tupleGroupContainer__x1\">"
                    "<div class=\"MessageDate_container__x\"><span class=\"MessageDate_text__x\">";
            out_ += kDayLabels[size_t(g)];
            out_ += "</span></div>";
            do {
                writeTuple(false);
            } while (qint64(out_.size()) < groupEnd);
            // Images the even spread left over go into one more answer at the end.
            if (g == groups - 1 && imagesWritten_ < images_)
                writeTuple(true);
            out_ += "</div>";
        }
        out_ += "</div>";
        writeTail();
        return std::move(out_);
    }

private:
    void words(int count)
    {
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                out_ += ' ';
            out_ += kWords[size_t(rng_.below(int(kWords.size())))];
        }
    }

    void sentence(int count)
    {
        words(count);
        out_ += ". ";
    }

    void writeHead()
    {
        out_ += "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                "<title>Trip planning - Poe</title><link rel=\"stylesheet\" href=\"/_next/static/css/app.css\">"
                "<style>";
        for (int i = 0; i < 200; ++i)
            out_ += ".Message_messageBubble__" + QByteArray::number(i) + "{padding:8px 12px;border-radius:12px}";
        out_ += "</style><script>window.__config = {\"build\": \"abc123\", \"flags\": [1, 2, 3]};</script>"
                "</head><body>";
    }

    void writeChrome()
    {
        out_ += "<div id=\"__next\"><div class=\"SidebarLayout_layoutWrapper__qW1\">"
                "<aside class=\"SidebarLayout_sidebar__SXeDJ\"><nav>";
        for (int i = 0; i < 40; ++i) {
            out_ += "<a class=\"ChatHistoryListItem_link__x\" href=\"/chat/c" + QByteArray::number(i) + "\">";
            words(4);
            out_ += "</a>";
        }
        out_ += "</nav></aside><aside class=\"SidebarLayout_left__k2\"><div>Bots</div></aside>"
                "<main class=\"SidebarLayout_main__x\" role=\"main\">"
                "<div class=\"BaseNavbar_leftNavItem__a\"><button>Back</button></div>"
                "<div class=\"ChatHeader_titleRow__x\"><p class=\"ChatHeader_overflow__aaa\"> Trip planning </p>"
                "<div data-testid=\"chat-members-display-text\">Assistant, Writer</div></div>"
                "<div class=\"BaseNavbar_rightNavItem__b\"><button>Share</button></div>"
                "<div class=\"BotInfoCard_sectionContainer__c\"><p>Assistant is a general helper.</p>"
                "<img src=\"https://assets.example.net/bot/avatar.png\" alt=\"\"></div>"
                "<div class=\"ChatMessagesView_inviteSection__d\"><button>Invite</button></div>";
    }

    void writeTail()
    {
        out_ += "<div class=\"ChatLastMessageArea_actionBarAndFollowUpActionsPlaceholder__e\"></div>"
                "<footer class=\"ChatPageMainFooter_footer__f\"><textarea placeholder=\"Talk to Assistant\"></textarea>"
                "<button>Send</button></footer></main>"
                "<aside class=\"SidebarLayout_right__g\"><div>Related</div></aside></div></div>"
                "<script id=\"__NEXT_DATA__\" type=\"application/json\">{\"props\":{\"page\":\"chat\"}}</script>"
                "</body></html>";
    }

    void actionBar()
    {
        out_ += "<section class=\"ChatMessageActionBar_actionBar__h\"><button aria-label=\"Copy\">"
                "<svg viewBox=\"0 0 24 24\"><path d=\"M4 4h16v16H4z\"></path></svg></button>"
                "<button aria-label=\"Like\">Like</button><button aria-label=\"Share\">Share</button></section>";
    }

    void writeTuple(bool last)
    {
        out_ += "<div class=\"ChatMessagesView_messageTuple__i\">";
        writeUserMessage();
        writeBotMessage(last);
        if (rng_.below(4) == 0) {
            out_ += "<section class=\"ChatMessageFollowupActions_container__j\"><button>";
            words(5);
            out_ += "?</button><button>";
            words(4);
            out_ += "?</button></section>";
        }
        out_ += "</div>";
    }

    void writeUserMessage()
    {
        const QByteArray id = QByteArray::number(++messageId_);
        out_ += "<div class=\"ChatMessage_chatMessage__abc\" data-message-id=\"" + id + "\" id=\"message-" + id
            + "\"><div class=\"ChatMessage_messageRow__x Message_rightSideMessageWrapper__k\">"
              "<div class=\"Message_rightSideMessageBubble__l Message_messageBubble__m\">"
              "<div class=\"Markdown_markdownContainer__n\"><p>";
        sentence(8 + rng_.below(20));
        out_ += "</p></div></div></div>";
        actionBar();
        out_ += "</div>";
    }

    void writeImage()
    {
        const QByteArray n = QByteArray::number(++imagesWritten_);
        out_ += "<div class=\"MarkdownImage_imageContainer__o\"><img src=\"https://assets.example.net/chat/img-" + n
            + ".png\" alt=\"picture " + n + "\" loading=\"lazy\"></div>";
    }

    void paragraph()
    {
        out_ += "<p>";
        sentence(6 + rng_.below(10));
        out_ += "<strong>";
        words(2);
        out_ += "</strong> ";
        words(4);
        out_ += " <em>";
        words(3);
        out_ += "</em> and <code>value_" + QByteArray::number(rng_.below(100)) + "()</code> ";
        out_ += "<a href=\"https://example.org/guide/" + QByteArray::number(rng_.below(1000)) + "\">";
        words(2);
        out_ += "</a>. ";
        sentence(10 + rng_.below(25));
        out_ += "</p>";
    }

    void codeBlock()
    {
        out_ += "<div class=\"MarkdownCodeBlock_container__p\"><div class=\"MarkdownCodeBlock_codeHeader__q\">"
                "<span>python</span><button>Copy</button></div>"
                "<pre class=\"MarkdownCodeBlock_preTag__r\"><code class=\"language-python\">";
        const int lines = 6 + rng_.below(20);
        for (int i = 0; i < lines; ++i) {
            out_ += "    " + QByteArray(i % 3 * 4, ' ') + "result_" + QByteArray::number(i) + " = compute(&quot;";
            words(2);
            out_ += "&quot;, " + QByteArray::number(rng_.below(1000)) + ") if x &lt; y else None\n";
        }
        out_ += "</code></pre></div>";
    }

    void table()
    {
        out_ += "<table><thead><tr><th>Day</th><th>Place</th><th>Cost</th></tr></thead><tbody>";
        const int rows = 3 + rng_.below(8);
        for (int i = 0; i < rows; ++i) {
            out_ += "<tr><td>" + QByteArray::number(i + 1) + "</td><td>";
            words(2);
            out_ += "</td><td>" + QByteArray::number(rng_.below(500)) + " €</td></tr>";
        }
        out_ += "</tbody></table>";
    }

    void list(bool ordered)
    {
        out_ += ordered ? "<ol>" : "<ul>";
        const int items = 3 + rng_.below(5);
        for (int i = 0; i < items; ++i) {
            out_ += "<li>";
            if (i % 2 == 0) {
                out_ += "<p>";
                words(6 + rng_.below(8));
                out_ += "</p>";
            } else {
                words(5 + rng_.below(8));
            }
            out_ += "</li>";
        }
        out_ += ordered ? "</ol>" : "</ul>";
    }

    void writeBotMessage(bool last)
    {
        const QByteArray id = QByteArray::number(++messageId_);
        ++answers_;
        out_ += "<div class=\"ChatMessage_chatMessage__abc\" data-message-id=\"" + id + "\" id=\"message-" + id
            + "\"><div class=\"ChatMessage_messageRow__x\"><div class=\"BotHeader_textContainer__s\">"
              "<p class=\"BotHeader_name__t\">Assistant</p></div>"
              "<div class=\"Message_leftSideMessageBubble__u Message_messageBubble__m\">"
              "<div class=\"Markdown_markdownContainer__n\">";
        paragraph();
        const int kind = rng_.below(8);
        switch (kind) {
        case 0: codeBlock(); paragraph(); break;
        case 1: table(); break;
        case 2: list(false); paragraph(); break;
        case 3: list(true); break;
        case 4:
            out_ += "<h3>";
            words(3);
            out_ += "</h3><blockquote><p>";
            sentence(15);
            out_ += "</p></blockquote>";
            break;
        case 5: codeBlock(); table(); break;
        case 6: paragraph(); out_ += "<hr>"; paragraph(); break;
        default: list(false); codeBlock(); break;
        }
        if (imageEvery_ > 0 && imagesWritten_ < images_ && answers_ % imageEvery_ == 0)
            writeImage();
        if (last) {
            while (imagesWritten_ < images_)
                writeImage();
        }
        out_ += "</div></div>"
                "<div class=\"Message_viewMoreButtonWrapper__v\"><button class=\"Message_viewMoreButton__w\">View more</button></div>"
                "</div>";
        actionBar();
        out_ += "</div>";
    }

    qint64 target_;
    int images_;
    Rng rng_;
    QByteArray out_;
    qint64 imageEvery_ = 0;
    int imagesWritten_ = 0;
    qint64 answers_ = 0;
    qint64 messageId_ = 0;
};

} // namespace

QByteArray generateChatPage(qint64 targetBytes, int imageAttachments)
{
    return PageWriter(targetBytes, std::max(0, imageAttachments)).take();
}

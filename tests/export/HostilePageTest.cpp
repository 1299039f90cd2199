// Unusual and hostile pages, sent through the real socket as the extension sends them: each
// export ends in a complete note or a clear error reply, the session ends, and the next
// ordinary export works.

#include "ExportFixture.h"
#include "ScriptedChat.h"

#include <QFile>
#include <QFileInfo>

#include <functional>

namespace {

using testsupport::repeated;

QByteArray nested(const QByteArray& open, const QByteArray& close, int depth, const QByteArray& inside)
{
    return repeated(open, depth) + inside + repeated(close, depth);
}

// One bot answer on a chat page with this title.
QByteArray chatPage(const QString& title, const QByteArray& answer)
{
    return QByteArray("<html><head><title>") + title.toHtmlEscaped().toUtf8() + QByteArray(" - Poe</title></head><body>"
        "<div class=\"ChatMessage_chatMessage__2\" data-message-id=\"2\">"
        "<div class=\"BotHeader_textContainer__t\"><p>Guide</p></div>"
        "<div class=\"Message_messageBubble__b\">") + answer + QByteArray("</div></div></body></html>");
}

const QString kInbox = QStringLiteral("/Mossbridge Inbox/");
const QString kCjk = QStringLiteral("\u6f22");   // three bytes of UTF-8
const QString kSmile = QStringLiteral("\U0001F600");
const QString kAcute = QStringLiteral("\u0301");
const QString kAttachment = QStringLiteral("https://poecdn.net/f/1");

class HostilePageTest;

struct HostileCase {
    const char* name;
    QByteArray page;
    // Where each export's note lands in the destination folder (as many exports as names),
    // and a text each note holds; or the error reply of a page that cannot be converted.
    QStringList notes;
    QString noteText;
    QString error;
    // Further checks once the exports are done.
    std::function<void(HostilePageTest&)> check;
    // Scripts one capture as the extension would; the whole export from invoke_export
    // when not set.
    std::function<void(HostilePageTest&)> drive;
};

class HostilePageTest : public ExportFixture, public ::testing::WithParamInterface<HostileCase> {
public:
    void SetUp() override
    {
        ExportFixture::SetUp();
        vault_ = configureVault();
        chat_.pageChunkSize = 64 * 1024;
        chat_.collapsedCodeBlocks = 0;
        chat_.markerAfterQueries = 0;
        extension_.setScript(chat_.script());
    }

    void invoke()
    {
        IPCArgs tab;
        tab.tabId = 5;
        tab.windowId = 9;
        extension_.send(command(QStringLiteral("invoke_export"), tab));
    }

    // One export of `page`, driven as the case says; returns the reply to its capture.
    std::optional<IPCMessage> exportPage(const QByteArray& page, const std::function<void(HostilePageTest&)>& drive)
    {
        chat_.page = page;
        chat_.captureRequestId = freshId();
        if (drive) {
            drive(*this);
        } else {
            invoke();
        }
        const QString id = chat_.captureRequestId;
        return extension_.waitForFirst([&](const IPCMessage& m) {
            return m.command == QStringLiteral("exportMarkdown") && m.request_id == id
                && (m.type == QStringLiteral("response") || m.type == QStringLiteral("error"));
        }, std::chrono::seconds(60));
    }

    bool sessionEnded()
    {
        const QString id = freshId();
        extension_.send(command(QStringLiteral("get_session_status"), std::nullopt, id));
        const std::optional<IPCMessage> status
            = extension_.waitForFirst([&](const IPCMessage& m) { return m.request_id == id; });
        return status && status->result && status->result->value(QStringLiteral("active")) == QStringLiteral("false");
    }

    QString note(const QString& path) const
    {
        QFile file(vault_ + kInbox + path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QString vault_;
    ScriptedChat chat_;
};

std::vector<HostileCase> hostileCases()
{
    const QByteArray deep("deep text");
    // Unclosed formatting that every following paragraph would repeat: far more elements than
    // the page has bytes.
    QByteArray formatting = "<p>";
    for (int i = 0; i < 500; ++i) {
        formatting += "<b class=\"f" + QByteArray::number(i) + "\">";
    }
    formatting += "</p>" + repeated(QByteArray("<p>x</p>"), 5000);

    // Messages nested inside messages: each would be converted with everything inside it.
    QByteArray nestedMessages;
    for (int i = 0; i < 500; ++i) {
        nestedMessages += "<div data-message-id=\"m" + QByteArray::number(i) + "\">";
    }
    nestedMessages += repeated(QByteArray("x<br>"), 20000);

    const QString cjkTitle = repeated(kCjk, 90);
    const QString smileTitle = repeated(kSmile, 100);
    const QString markedTitle = QLatin1Char('a') + repeated(kAcute, 300);
    const QString attachmentName = repeated(kCjk, 96) + QStringLiteral(".pdf");

    const auto windowSet = [](HostilePageTest& test) {
        const QList<IPCMessage> sets = test.extension_.receivedWithCommand(QStringLiteral("windowSet"));
        EXPECT_FALSE(sets.isEmpty());
        return sets.isEmpty() || !sets.last().args ? IPCArgs() : *sets.last().args;
    };

    return {
        {"DeepDivs", chatPage(QStringLiteral("Divs"), nested("<div>", "</div>", 100000, deep)),
            {QStringLiteral("Divs.md")}, QStringLiteral("deep text"), {}, {}, {}},
        {"DeepLists", chatPage(QStringLiteral("Lists"), nested("<ul><li>", "</li></ul>", 100000, deep)),
            {QStringLiteral("Lists.md")}, QStringLiteral("deep text"), {}, {}, {}},
        {"DeepQuotes", chatPage(QStringLiteral("Quotes"), nested("<blockquote>", "</blockquote>", 100000, deep)),
            {QStringLiteral("Quotes.md")}, QStringLiteral("deep text"), {}, {}, {}},
        {"NestedMessages", chatPage(QStringLiteral("Nested"), nestedMessages), {}, {},
            QStringLiteral("The note would be far larger than the page: its messages nest too deeply"), {}, {}},
        // Every quote level prefixes each line inside it; past sixteen levels no more are added.
        {"QuotesAroundManyLines",
            chatPage(QStringLiteral("Quoted"), nested("<blockquote>", "</blockquote>", 300, repeated(QByteArray("line<br>"), 20000))),
            {QStringLiteral("Quoted.md")}, QStringLiteral("line"), {},
            [](HostilePageTest& test) {
                const QString text = test.note(QStringLiteral("Quoted.md"));
                EXPECT_TRUE(text.contains(QStringLiteral("> ").repeated(17) + QStringLiteral("line")));
                EXPECT_FALSE(text.contains(QStringLiteral("> ").repeated(18)));
            },
            {}},
        {"RepeatedUnclosedFormatting", chatPage(QStringLiteral("Bold"), formatting), {}, {},
            QStringLiteral("The page repeats its unclosed formatting too often to be converted"), {}, {}},
        // Titles past 255 bytes long before 128 characters; the second export's " 2" fits too.
        {"CjkTitle", chatPage(cjkTitle, "<p>Hello</p>"),
            {repeated(kCjk, 84) + QStringLiteral(".md"), repeated(kCjk, 83) + QStringLiteral(" 2.md")},
            QStringLiteral("Hello"), {}, {}, {}},
        {"EmojiTitle", chatPage(smileTitle, "<p>Hello</p>"),
            {repeated(kSmile, 63) + QStringLiteral(".md"), repeated(kSmile, 62) + QStringLiteral(" 2.md")},
            QStringLiteral("Hello"), {}, {}, {}},
        {"CombiningMarksTitle", chatPage(markedTitle, "<p>Hello</p>"),
            {markedTitle.left(126) + QStringLiteral(".md"), markedTitle.left(125) + QStringLiteral(" 2.md")},
            QStringLiteral("Hello"), {}, {}, {}},
        {"LongAttachmentName",
            chatPage(QStringLiteral("Files"), "<p><a class='Attachments_attachment__x' href='" + kAttachment.toUtf8()
                    + "'><span class='FileInfo_title__t'>" + attachmentName.toUtf8() + "</span></a></p>"),
            {QStringLiteral("Files/Files.md")}, repeated(kCjk, 83) + QStringLiteral(".pdf"), {},
            [](HostilePageTest& test) {
                QFile asset(test.vault_ + kInbox + QStringLiteral("Files/assets/") + repeated(kCjk, 83)
                    + QStringLiteral(".pdf"));
                ASSERT_TRUE(asset.open(QIODevice::ReadOnly));
                EXPECT_EQ(asset.readAll(), QByteArray("%PDF-1.7"));
            },
            [](HostilePageTest& test) {
                test.chat_.downloads.insert(kAttachment, QByteArray("%PDF-1.7"));
                test.invoke();
            }},
        // A browser at a fractional display scale: the window goes back to its rounded offsets.
        {"FractionalWindowOffsets", chatPage(QStringLiteral("Scaled"), "<p>Hello</p>"),
            {QStringLiteral("Scaled.md")}, QStringLiteral("Hello"), {},
            [windowSet](HostilePageTest& test) {
                const IPCArgs set = windowSet(test);
                EXPECT_EQ(set.windowX, 0);
                EXPECT_EQ(set.windowY, 120);
                EXPECT_FALSE(test.log_.contains(QStringLiteral("[WARN] Scroll metric")));
            },
            [](HostilePageTest& test) {
                test.chat_.windowScrollX = QStringLiteral("0.4");
                test.chat_.windowScrollY = QStringLiteral("119.7080307006836");
                test.invoke();
            }},
        // Chunks 0 and 2 of 3, then "capture_complete": the export fails after a short grace
        // instead of keeping the session.
        {"IncompleteCapture", chatPage(QStringLiteral("Cut short"), "<p>Hello</p>"), {}, {},
            QStringLiteral("Capture incomplete: chunks of the page are missing."),
            [](HostilePageTest& test) {
                EXPECT_TRUE(test.log_.contains(QStringLiteral("[ERR] capture_complete called but data incomplete for RID: ")
                    + test.chat_.captureRequestId));
                EXPECT_FALSE(QFileInfo::exists(test.vault_ + kInbox + QStringLiteral("Cut short.md")));
                test.chat_.missingChunk = -1;
                test.chat_.pageChunkSize = 64 * 1024;
            },
            [](HostilePageTest& test) {
                test.chat_.pageChunkSize = (test.chat_.page.size() + 2) / 3;
                test.chat_.missingChunk = 1;
                test.invoke();
            }},
        {"WindowOffsetThatIsNoNumber", chatPage(QStringLiteral("Odd"), "<p>Hello</p>"),
            {QStringLiteral("Odd.md")}, QStringLiteral("Hello"), {},
            [windowSet](HostilePageTest& test) {
                const IPCArgs set = windowSet(test);
                EXPECT_EQ(set.windowX, 3);
                EXPECT_EQ(set.windowY, 0);
                EXPECT_TRUE(test.log_.contains(
                    QStringLiteral("[WARN] Scroll metric windowScrollY is no usable number: \"12px\"")));
            },
            [](HostilePageTest& test) {
                test.chat_.windowScrollY = QStringLiteral("12px");
                test.invoke();
            }},
    };
}

TEST_P(HostilePageTest, EndsWellAndTheNextExportWorks)
{
    const HostileCase& c = GetParam();
    const int exports = std::max<int>(1, int(c.notes.size()));
    for (int i = 0; i < exports; ++i) {
        SCOPED_TRACE(i);
        const std::optional<IPCMessage> reply = exportPage(c.page, c.drive);
        ASSERT_TRUE(reply) << "no reply";
        if (!c.error.isEmpty()) {
            EXPECT_EQ(reply->type, QStringLiteral("error"));
            EXPECT_EQ(reply->error, IPCError {c.error});
        } else {
            EXPECT_EQ(reply->type, QStringLiteral("response"));
            EXPECT_EQ(reply->result->value(QStringLiteral("status")), QStringLiteral("success"));
            const QString text = note(c.notes[i]);
            EXPECT_TRUE(text.contains(c.noteText)) << c.notes[i].toStdString();
        }
        ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
        EXPECT_TRUE(sessionEnded());
    }
    if (c.check) {
        c.check(*this);
    }

    chat_.windowScrollX = QStringLiteral("3");
    chat_.windowScrollY = QStringLiteral("-4");
    const std::optional<IPCMessage> next = exportPage(chatPage(QStringLiteral("Ordinary"), "<p>Fine.</p>"), {});
    ASSERT_TRUE(next);
    EXPECT_EQ(next->type, QStringLiteral("response"));
    EXPECT_TRUE(note(QStringLiteral("Ordinary.md")).contains(QStringLiteral("Fine.")));
}

INSTANTIATE_TEST_SUITE_P(Pages, HostilePageTest, ::testing::ValuesIn(hostileCases()),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

} // namespace

// The page walk: bot names, clean-up, front matter, day groups and the message kinds, each
// shown by a small page under tests/fixtures/convert and the note body it must give.

#include "ConverterTestSupport.h"

#include "convert/MarkdownConverter.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <algorithm>

using convtest::body;
using convtest::convert;
using convtest::FixtureNote;
using convtest::NoteCase;
using convtest::noteCaseName;
using convtest::page;

namespace {

const NoteCase pageWalkCases[] = {
    { "bot-name-title.html", "bot-name-title.md", "the page title names the bot" },
    { "bot-name-members.html", "bot-name-members.md", "the member list's first name wins over the title" },
    { "bot-name-headers.html", "bot-name-headers.md",
        "title \"Poe\" leaves \"Bot\"; each header kind names the bot; a headerless message repeats the last name" },
    { "cleanup.html", "cleanup.md", "sidebars, bars and buttons go, the navbar's member list still names the bot" },
    { "day-groups.html", "day-groups.md", "one heading per labelled group; messages outside groups are not read" },
    { "user-messages.html", "user-messages.md", "a bubble gives a question callout, no bubble an italic line" },
    { "bot-content.html", "bot-content.md", "bubble, Markdown container, markdown class, the message itself" },
    { "announcement.html", "announcement.md", "an announcement gives only the italic line" },
    { "tuples.html", "tuples.md", "tuple containers are opened, suffixed ones and view-more buttons are not" },
    { "fallback-root.html", "fallback-root.md", "without groups or selector matches the main element is the root" },
    { "fallback-body.html", "fallback-body.md", "without a main element the body's children are tested" },
};

INSTANTIATE_TEST_SUITE_P(PageWalk, FixtureNote, ::testing::ValuesIn(pageWalkCases), noteCaseName);

TEST(PageWalk, TitleSources)
{
    struct Case {
        const char* page;
        const char* title;
        const char* filename;
    };
    const Case cases[] = {
        { "title-header.html", "My chat", "My chat.md" },
        { "title-element.html", "Trip plan", "Trip plan.md" },
        { "title-none.html", "Poe Chat", "Poe Chat.md" },
        { "title-empty.html", "", "untitled.md" },
    };
    for (const Case& c : cases) {
        MarkdownConverter converter(page(QString::fromLatin1(c.page)));
        EXPECT_EQ(converter.title(), QString::fromUtf8(c.title)) << c.page;
        EXPECT_EQ(converter.suggestedFilename(), QString::fromUtf8(c.filename)) << c.page;
        EXPECT_EQ(converter.assetsDirName(), converter.sanitizedTitle() + QStringLiteral("_files")) << c.page;
    }
}

TEST(PageWalk, AssetsDirectoryAndUpdatedFilename)
{
    MarkdownConverter given(page(QStringLiteral("title-element.html")), QStringLiteral("../kept as given"));
    EXPECT_EQ(given.assetsDirName(), QStringLiteral("../kept as given"));

    MarkdownConverter converter(page(QStringLiteral("title-element.html")));
    converter.updateFilename(QStringLiteral("Chat.md"));
    EXPECT_EQ(converter.suggestedFilename(), QStringLiteral("Chat.md"));
    EXPECT_EQ(converter.sanitizedTitle(), QStringLiteral("Chat"));
    EXPECT_EQ(converter.assetsDirName(), QStringLiteral("Chat_files"));
    EXPECT_EQ(converter.title(), QStringLiteral("Trip plan"));

    converter.updateFilename(QStringLiteral("notes.v2.md"));
    EXPECT_EQ(converter.sanitizedTitle(), QStringLiteral("notes.v2"));
}

TEST(PageWalk, FrontMatter)
{
    const QLocale locale = QLocale::system();
    const QDateTime when = convtest::referenceTime();
    const QString dateLine = QStringLiteral("Export Date: ") + locale.toString(when.date(), QLocale::ShortFormat);
    const QString timeLine = QStringLiteral("Export Time: ") + locale.toString(when.time(), QLocale::ShortFormat);
    const QString html = page(QStringLiteral("title-element.html"));

    const QString withSource = convert(html, QStringLiteral("https://poe.com/chat/abc")).note;
    EXPECT_EQ(withSource,
        QStringLiteral("---\nSource: https://poe.com/chat/abc\n") + dateLine + QLatin1Char('\n') + timeLine
            + QStringLiteral("\n---"));

    for (const std::optional<QString>& none : { std::optional<QString>(), std::optional<QString>(QString()) }) {
        EXPECT_EQ(convert(html, none).note,
            QStringLiteral("---\n") + dateLine + QLatin1Char('\n') + timeLine + QStringLiteral("\n---"));
    }
}

TEST(PageWalk, DryRunAndRealRunGiveTheSameNote)
{
    // The dry run removes the page furniture; the real run must still name bots the same way.
    for (const char* name : { "cleanup.html", "bot-name-headers.html", "nodes.html" }) {
        MarkdownConverter converter(page(QString::fromLatin1(name)), std::nullopt, convtest::referenceTime());
        converter.onRequestDownload = [&converter](const QString& url) {
            converter.saveDownloadedFile(url, QByteArray("x"), std::nullopt);
        };
        const QString dry = converter.process(true);
        EXPECT_EQ(converter.process(false), dry) << name;
    }
}

} // namespace

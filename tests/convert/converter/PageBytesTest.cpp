// A page handed over as its UTF-8 bytes converts exactly as its decoded text does: the same
// note, log, requests and assets, with or without a byte-order mark in front or a character
// cut short at the end.

#include "ConverterTestSupport.h"

#include "convert/MarkdownConverter.h"

#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

using convtest::Conversion;
using convtest::convert;

namespace {

// A download without a name is named with a fresh UUID; those differ from run to run.
std::string fixed(const QString& text)
{
    static const QRegularExpression uuid(QStringLiteral("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
    return QString(text).replace(uuid, QStringLiteral("UUID")).toStdString();
}

std::string fixed(const QStringList& lines)
{
    return fixed(lines.join(QLatin1Char('\n')));
}

std::string fixed(const QMap<QString, QByteArray>& assets)
{
    QStringList entries;
    for (auto it = assets.cbegin(); it != assets.cend(); ++it) {
        entries.append(it.key() + QStringLiteral(": ") + QString::fromUtf8(it.value()));
    }
    return fixed(entries);
}

void expectSameConversion(const QString& text, const QByteArray& bytes, const std::string& what)
{
    const Conversion fromText = convert(text, QStringLiteral("https://poe.com/chat/abc"));
    const Conversion fromBytes = convert(bytes, QStringLiteral("https://poe.com/chat/abc"));
    EXPECT_EQ(fixed(fromBytes.note), fixed(fromText.note)) << what;
    EXPECT_EQ(fromBytes.title, fromText.title) << what;
    EXPECT_EQ(fromBytes.suggestedFilename, fromText.suggestedFilename) << what;
    EXPECT_EQ(fixed(fromBytes.log), fixed(fromText.log)) << what;
    EXPECT_EQ(fromBytes.dryRunRequests, fromText.dryRunRequests) << what;
    EXPECT_EQ(fromBytes.requests, fromText.requests) << what;
    EXPECT_EQ(fixed(fromBytes.assets), fixed(fromText.assets)) << what;
}

TEST(PageBytes, EveryFixturePageConvertsAsItsText)
{
    const QDir fixtures(QStringLiteral(MOSSBRIDGE_FIXTURES_DIR "/convert"));
    const QStringList pages = fixtures.entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_FALSE(pages.isEmpty());
    for (const QString& name : pages) {
        const QString text = convtest::page(name);
        expectSameConversion(text, text.toUtf8(), name.toStdString());
        // Decoding drops a leading byte-order mark; the bytes must read the same.
        expectSameConversion(text, "\xEF\xBB\xBF" + text.toUtf8(), name.toStdString() + " with a BOM");
    }
}

TEST(PageBytes, TextOutsideAsciiAndTheSizeBudget)
{
    // Two-, three- and four-byte characters in the title, the text and an attachment's name.
    const QString text = QStringLiteral(
        "<html><head><title>Café – 日本 😀</title></head><body><main>"
        "<div class=\"ChatMessage_messageRow\"><p>Grüße, ελληνικά, 😀😀 and \u00a0spaces</p>"
        "<img src=\"https://poecdn.net/äpfel 😀.png\"></div></main></body></html>");
    expectSameConversion(text, text.toUtf8(), "non-ASCII page");
    // The decoder drops a character cut short at the very end.
    for (const char* cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"}) {
        expectSameConversion(text, text.toUtf8() + cut, "a character cut short at the end");
    }

    // The note's size limit counts the page in UTF-16 units, as the text's length is.
    for (const QString& sample : {QString(), QStringLiteral("ascii"), QStringLiteral("é€"), QStringLiteral("😀x😀"), text}) {
        EXPECT_EQ(MarkdownConverter::utf16Length(sample.toUtf8()), sample.size()) << sample.toStdString();
    }
}

} // namespace

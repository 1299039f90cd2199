#include "ConverterTestSupport.h"

#include "convert/MarkdownConverter.h"

#include <algorithm>
#include "support/TestSupport.h"

#include <QTimeZone>

#include <cstdlib>
#include <ctime>

namespace {

// Day labels and front matter use the local time zone; pin it for every test of the program.
const bool utcZone = [] {
    qputenv("TZ", "UTC");
    tzset();
    return true;
}();

} // namespace

namespace convtest {

QDateTime referenceTime()
{
    return QDateTime(QDate(2025, 1, 2), QTime(10, 0));
}

QString page(const QString& name)
{
    return testsupport::readFixture(QStringLiteral("convert/") + name);
}

QString expected(const QString& name)
{
    return testsupport::readFixture(QStringLiteral("convert/") + name);
}

QString body(const QString& note)
{
    const qsizetype close = note.indexOf(QLatin1String("\n---"), 3);
    return close < 0 ? note : note.mid(close + 4);
}

void HookRecorder::attach(MarkdownConverter& converter)
{
    converter.logger = [this](const QString& text) {
        std::lock_guard lock(mutex_);
        lines_.append(text);
    };
    converter.onRequestDownload = [this](const QString& url) {
        std::lock_guard lock(mutex_);
        requests_.append(url);
    };
}

QStringList HookRecorder::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

QStringList HookRecorder::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HookRecorder::logged(const QString& fragment) const
{
    std::lock_guard lock(mutex_);
    for (const QString& line : lines_) {
        if (line.contains(fragment)) {
            return true;
        }
    }
    return false;
}

namespace {

Conversion run(MarkdownConverter& converter)
{
    Conversion result;
    converter.logger = [&result](const QString& text) { result.log.append(text); };
    QStringList* requests = &result.dryRunRequests;
    converter.onRequestDownload = [&converter, &requests](const QString& url) {
        requests->append(url);
        converter.saveDownloadedFile(url, url.toUtf8(), std::nullopt);
    };
    converter.setTotalAssets(0);
    converter.process(true);
    requests = &result.requests;
    result.note = converter.process(false);
    result.title = converter.title();
    result.suggestedFilename = converter.suggestedFilename();
    result.totalAssets = converter.totalAssets();
    result.processedAssets = converter.processedAssets();
    result.assets = converter.assets();
    return result;
}

} // namespace

Conversion convert(const QString& html, const std::optional<QString>& chatUrl)
{
    MarkdownConverter converter(html, std::nullopt, referenceTime(), chatUrl);
    return run(converter);
}

Conversion convert(const QByteArray& utf8Html, const std::optional<QString>& chatUrl)
{
    MarkdownConverter converter(utf8Html, std::nullopt, referenceTime(), chatUrl);
    return run(converter);
}

void expectNote(const NoteCase& noteCase)
{
    const Conversion result = convert(page(QString::fromLatin1(noteCase.page)));
    EXPECT_EQ(body(result.note).toStdString(), expected(QString::fromLatin1(noteCase.note)).toStdString())
        << noteCase.rule;
}

TEST_P(FixtureNote, GivesTheExpectedNote)
{
    expectNote(GetParam());
}

std::string noteCaseName(const ::testing::TestParamInfo<NoteCase>& info)
{
    std::string name = info.param.page;
    name = name.substr(0, name.find('.'));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

} // namespace convtest

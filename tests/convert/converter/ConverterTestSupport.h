#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>

class MarkdownConverter;

namespace convtest {

// The export time every fixture is converted at: Thursday, 2 January 2025, 10:00 local time.
QDateTime referenceTime();

// A page under tests/fixtures/convert.
QString page(const QString& name);
// An expected note body under tests/fixtures/convert.
QString expected(const QString& name);

// The note without its front matter (everything after the closing "---").
QString body(const QString& note);

// Collects the converter's log lines and download requests (from any thread).
class HookRecorder {
public:
    void attach(MarkdownConverter& converter);
    QStringList lines() const;
    QStringList requests() const;
    bool logged(const QString& fragment) const;

private:
    mutable std::mutex mutex_;
    QStringList lines_;
    QStringList requests_;
};

struct Conversion {
    QString note;
    QString title;
    QString suggestedFilename;
    qint64 totalAssets = 0;
    qint64 processedAssets = 0;
    QStringList log;
    QStringList dryRunRequests;
    QStringList requests;
    QMap<QString, QByteArray> assets;
};

// Converts a page the way the export does: construction, a dry run, then the real run in
// which every download is answered at once with the bytes of its address.
Conversion convert(const QString& html, const std::optional<QString>& chatUrl = std::nullopt);
// The same from the page's UTF-8 bytes.
Conversion convert(const QByteArray& utf8Html, const std::optional<QString>& chatUrl = std::nullopt);

// A fixture page, its expected note body and the rule it shows.
struct NoteCase {
    const char* page;
    const char* note;
    const char* rule;
};

// Converts the case's page and compares the note body with the expected one.
void expectNote(const NoteCase& noteCase);
// The fixture-note check as a test suite: instantiate it with a table of cases.
class FixtureNote : public ::testing::TestWithParam<NoteCase> {};
// The test name of a case: its page's name without extension, "-" as "_".
std::string noteCaseName(const ::testing::TestParamInfo<NoteCase>& info);

} // namespace convtest

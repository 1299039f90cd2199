// Attachments: file names, one download per address, the dry run, and the wait for answers
// that arrive on another thread.

#include "ConverterTestSupport.h"

#include "convert/MarkdownConverter.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QUrl>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

using convtest::HookRecorder;
using convtest::page;

namespace {

using namespace std::chrono_literals;

const QString oneImage = QStringLiteral(
    "<div data-message-id='1'><div class='Message_messageBubble__b'>"
    "<p><img src='https://pfst.example.net/a/one.png'> <img src='https://pfst.example.net/a/two.png'></p>"
    "</div></div>");

TEST(Assets, NamesAndRequestsOfTheAttachmentPage)
{
    const convtest::Conversion result = convtest::convert(page(QStringLiteral("attachments.html")));

    EXPECT_TRUE(result.dryRunRequests.isEmpty());
    const QStringList expectedRequests = {
        QStringLiteral("https://pfst.example.net/a/cat.png"),
        QStringLiteral("https://pfst.example.net/b/cat.png"),
        QStringLiteral("https://poecdn.net/x/download"),
        QStringLiteral("https://poecdn.net/y/download"),
        QStringLiteral("https://pfst.example.net/get?pmaid=shot-7&w=100"),
        QStringLiteral("https://pfst.example.net/get?pmaid=..%2F..%2F.bashrc"),
        QStringLiteral("https://poecdn.net/z/file"),
        QStringLiteral("https://pfst.example.net/%2E%2E"),
    };
    EXPECT_EQ(result.requests, expectedRequests);
    EXPECT_EQ(result.totalAssets, expectedRequests.size());
    EXPECT_EQ(result.processedAssets, expectedRequests.size());

    const QString note = result.note;
    // The same address twice: one download, two links to one file.
    EXPECT_TRUE(note.contains(QStringLiteral("Twice: ![[cat.png]] and ![[cat.png]]")));
    // Another address with the same last component gets a name of its own.
    EXPECT_TRUE(note.contains(QStringLiteral("Same name: ![[cat_1.png]]")));
    EXPECT_TRUE(note.contains(QRegularExpression(QStringLiteral(
        "Download: !\\[\\[file_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\]\\]"))));
    EXPECT_TRUE(note.contains(QStringLiteral("Titled: ![[notes.txt]]")));
    EXPECT_TRUE(note.contains(QStringLiteral("Query: ![[shot-7.jpg]]")));
    // Names from the page cannot leave the assets folder.
    EXPECT_TRUE(note.contains(QStringLiteral("Hostile: ![[_.._.bashrc]] ![[_.._etc_passwd]] ![[untitled.jpg]]")));
    // Addresses that cannot be fetched stay remote and are not requested.
    EXPECT_TRUE(note.contains(QStringLiteral(
        "Inline: ![dot](data:image/png;base64,AAAA) ![](blob:https://poe.com/1234) [mail](mailto:someone@example.com)")));

    // Every answer is kept under the name the note links to.
    EXPECT_EQ(result.assets.size(), expectedRequests.size());
    EXPECT_EQ(result.assets.value(QStringLiteral("cat_1.png")), QByteArray("https://pfst.example.net/b/cat.png"));
    EXPECT_EQ(result.assets.value(QStringLiteral("notes.txt")), QByteArray("https://poecdn.net/y/download"));
    for (const QString& name : result.assets.keys()) {
        EXPECT_FALSE(name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) << name.toStdString();
        EXPECT_TRUE(note.contains(QStringLiteral("![[") + name + QStringLiteral("]]"))) << name.toStdString();
    }
    EXPECT_TRUE(result.log.contains(QStringLiteral("Requesting download: https://pfst.example.net/a/cat.png")));
    EXPECT_TRUE(result.log.contains(QStringLiteral("Downloaded: cat.png [34 B] (0.00s, 12%)")));
}

TEST(Assets, DryRunCountsAndRequestsNothing)
{
    MarkdownConverter converter(oneImage);
    HookRecorder hooks;
    hooks.attach(converter);
    const QString note = converter.process(true);
    EXPECT_TRUE(hooks.requests().isEmpty());
    EXPECT_EQ(converter.totalAssets(), 2);
    EXPECT_TRUE(note.contains(QStringLiteral("![[one.png]] ![[two.png]]")));
    EXPECT_TRUE(hooks.lines().isEmpty()) << hooks.lines().join(QLatin1Char('\n')).toStdString();
}

// Attachment names taken from the page fit the file system's 255 bytes, with the extension and
// the counter that tells equal names apart; shorter names stay as they are.
TEST(Assets, LongNamesFitTheFileSystem)
{
    const QString cjk = QStringLiteral("\u6f22");
    const QString cjk96 = testsupport::repeated(cjk, 96);
    const QString file = QStringLiteral("<a class='Attachments_attachment__x' href='https://poecdn.net/f/%1'>"
                                        "<span class='FileInfo_title__t'>%2.pdf</span></a> ");
    const QString html = QStringLiteral("<div data-message-id='1'><div class='Message_messageBubble__b'><p>")
        + file.arg(QStringLiteral("1"), QStringLiteral("ab") + cjk96) + file.arg(QStringLiteral("2"), QStringLiteral("ab") + cjk96)
        + QStringLiteral("<img src='https://pfst.example.net/i/") + QString::fromLatin1(QUrl::toPercentEncoding(cjk96 + cjk96))
        + QStringLiteral("'> <img src='https://pfst.example.net/i/short.png'></p></div></div>");

    const convtest::Conversion result = convtest::convert(html);

    const QStringList expected = {
        QStringLiteral("ab") + cjk96.left(83) + QStringLiteral(".pdf"),   // 255 bytes
        QStringLiteral("ab") + cjk96.left(82) + QStringLiteral("_1.pdf"),
        cjk96.left(83) + QStringLiteral(".jpg"),
        QStringLiteral("short.png"),
    };
    QStringList sorted = expected;
    sorted.sort();
    EXPECT_EQ(result.assets.keys(), sorted);
    for (const QString& name : expected) {
        EXPECT_LE(name.toUtf8().size(), 255);
        EXPECT_TRUE(result.note.contains(QStringLiteral("![[") + name + QStringLiteral("]]"))) << name.toStdString();
    }
}

// Answers downloads on a thread of its own, in the order they were requested.
class AnsweringThread {
public:
    // Addresses in `failing` are answered with an error instead of bytes.
    AnsweringThread(MarkdownConverter& converter, QSet<QString> failing)
        : failing_(std::move(failing))
        , converter_(converter)
        , thread_([this] { run(); })
    {
        converter.onRequestDownload = [this](const QString& url) {
            std::lock_guard lock(mutex_);
            queue_.push_back(url);
            wake_.notify_one();
        };
    }
    ~AnsweringThread()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
private:
    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            const QString url = queue_.front();
            queue_.pop_front();
            lock.unlock();
            std::this_thread::sleep_for(20ms);
            if (failing_.contains(url)) {
                converter_.saveDownloadedFile(url, std::nullopt, QStringLiteral("tab closed"));
            } else {
                converter_.saveDownloadedFile(url, url.toUtf8(), std::nullopt);
            }
            lock.lock();
        }
    }

    const QSet<QString> failing_;
    MarkdownConverter& converter_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QString> queue_;
    bool stop_ = false;
    std::thread thread_;
};

TEST(Downloads, AnswersFromAnotherThreadWhileTheRunWaits)
{
    MarkdownConverter converter(oneImage);
    std::mutex progressMutex;
    std::vector<std::pair<qint64, qint64>> progress;
    converter.onProgress = [&](qint64 processed, qint64 total) {
        std::lock_guard lock(progressMutex);
        progress.emplace_back(processed, total);
    };
    HookRecorder log;
    log.attach(converter);
    AnsweringThread answers(converter, { QStringLiteral("https://pfst.example.net/a/two.png") });

    converter.process(true);
    const QString note = converter.process(false);

    EXPECT_TRUE(note.contains(QStringLiteral("![[one.png]] ![](https://pfst.example.net/a/two.png)")));
    EXPECT_EQ(converter.processedAssets(), 2);
    const QMap<QString, QByteArray> assets = converter.assets();
    EXPECT_EQ(assets.keys(), QStringList { QStringLiteral("one.png") });
    EXPECT_EQ(assets.value(QStringLiteral("one.png")), QByteArray("https://pfst.example.net/a/one.png"));
    {
        std::lock_guard lock(progressMutex);
        const std::vector<std::pair<qint64, qint64>> expectedProgress = { { 1, 2 }, { 2, 2 } };
        EXPECT_EQ(progress, expectedProgress);
    }
    EXPECT_TRUE(log.logged(QStringLiteral("Downloaded: one.png [34 B] (")));
    EXPECT_TRUE(log.logged(QStringLiteral("s, 50%)")));
    EXPECT_TRUE(log.logged(QStringLiteral("❌ Download failed for https://pfst.example.net/a/two.png: tab closed")));
    EXPECT_FALSE(log.logged(QStringLiteral("timed out")));
}

TEST(Downloads, AnswersForUnknownOrAnsweredAddressesAreIgnored)
{
    MarkdownConverter converter(oneImage);
    HookRecorder hooks;
    hooks.attach(converter);
    converter.onRequestDownload = [&converter](const QString& url) {
        converter.saveDownloadedFile(url, QByteArray("bytes"), std::nullopt);
    };
    converter.process(false);
    ASSERT_EQ(converter.processedAssets(), 2);

    converter.saveDownloadedFile(QStringLiteral("https://elsewhere.example/never"), QByteArray("x"), std::nullopt);
    converter.saveDownloadedFile(QStringLiteral("https://pfst.example.net/a/one.png"), QByteArray("again"), std::nullopt);

    EXPECT_TRUE(hooks.logged(QStringLiteral("⚠️ Received file for unknown URL: https://elsewhere.example/never")));
    EXPECT_TRUE(hooks.logged(QStringLiteral("⚠️ Received file for unknown URL: https://pfst.example.net/a/one.png")));
    EXPECT_EQ(converter.processedAssets(), 2);
    EXPECT_EQ(converter.assets().value(QStringLiteral("one.png")), QByteArray("bytes"));
    EXPECT_FALSE(converter.assets().contains(QStringLiteral("never")));
}

TEST(Downloads, AStallEndsTheWait)
{
    MarkdownConverter converter(oneImage);
    HookRecorder hooks;
    hooks.attach(converter);
    converter.setWaitDurations(60s, 150ms, 10ms);

    const QString note = converter.process(false);

    EXPECT_EQ(hooks.requests().size(), 2);
    EXPECT_TRUE(note.contains(
        QStringLiteral("![](https://pfst.example.net/a/one.png) ![](https://pfst.example.net/a/two.png)")));
    EXPECT_TRUE(hooks.logged(QStringLiteral("⚠️ Download stalled for 0.1s. Aborting wait.")))
        << hooks.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(hooks.lines().last(), QStringLiteral("⚠️ Downloads timed out."));
    EXPECT_TRUE(converter.assets().isEmpty());
}

// How the download of the failing assets ends.
enum class Failure { ErrorAnswer, NoData, NoAnswer, ConnectionGone };

struct FailedDownloadCase {
    const char* name;
    Failure failure;
    const char* logLine; // expected in the log
};

void PrintTo(const FailedDownloadCase& c, std::ostream* os)
{
    *os << c.name;
}

class FailedDownload : public testing::TestWithParam<FailedDownloadCase> { };

TEST_P(FailedDownload, TheNoteKeepsTheAddress)
{
    const FailedDownloadCase& c = GetParam();
    const QString image = QStringLiteral("https://pfst.example.net/a/two.png");
    const QString file = QStringLiteral("https://poecdn.net/f/report (final).pdf");
    MarkdownConverter converter(QStringLiteral(
        "<div data-message-id='1'><div class='Message_messageBubble__b'>"
        "<p>Kept <img src='https://pfst.example.net/a/one.png'></p>"
        "<p>Image <img src='https://pfst.example.net/a/two.png'> again <img src='https://pfst.example.net/a/two.png'></p>"
        "<p>File <a href='https://poecdn.net/f/report (final).pdf'>report</a></p>"
        "</div></div>"));
    HookRecorder hooks;
    hooks.attach(converter);
    // A connection that goes away fails its downloads at once: that wait must not last until
    // the stall.
    converter.setWaitDurations(60s, c.failure == Failure::ConnectionGone ? 60s : 150ms, 10ms);
    // Every other download is answered at once; the dispatcher answers an incomplete payload
    // without bytes and with "Incomplete Data".
    std::thread disconnect;
    converter.onRequestDownload = [&](const QString& url) {
        if (url != image && url != file) {
            converter.saveDownloadedFile(url, QByteArray("bytes"), std::nullopt);
        } else if (c.failure == Failure::ErrorAnswer) {
            converter.saveDownloadedFile(url, std::nullopt, QStringLiteral("tab closed"));
        } else if (c.failure == Failure::NoData) {
            converter.saveDownloadedFile(url, std::nullopt, QStringLiteral("Incomplete Data"));
        } else if (c.failure == Failure::ConnectionGone && url == file) {
            // On another thread, as the server's disconnect event comes, while the wait runs.
            disconnect = std::thread([&converter] { converter.failPendingDownloads(QStringLiteral("Extension disconnected")); });
        }
    };

    converter.process(true);
    const QString note = converter.process(false);
    if (disconnect.joinable()) {
        disconnect.join();
    }
    // An answer after the wait gave up is not kept: the note does not link to it.
    converter.saveDownloadedFile(image, QByteArray("late"), std::nullopt);

    EXPECT_TRUE(note.contains(QStringLiteral("Kept ![[one.png]]"))) << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral(
        "Image ![](https://pfst.example.net/a/two.png) again ![](https://pfst.example.net/a/two.png)")))
        << note.toStdString();
    EXPECT_TRUE(note.contains(QStringLiteral(
        "File [report (final).pdf](https://poecdn.net/f/report%20%28final%29.pdf)")))
        << note.toStdString();
    EXPECT_FALSE(note.contains(QStringLiteral("two.png]]")));
    EXPECT_EQ(converter.assets().keys(), QStringList { QStringLiteral("one.png") });
    EXPECT_TRUE(hooks.logged(QString::fromUtf8(c.logLine))) << hooks.lines().join(QLatin1Char('\n')).toStdString();
    if (c.failure == Failure::ConnectionGone) {
        EXPECT_FALSE(hooks.logged(QStringLiteral("stalled")));
        EXPECT_EQ(converter.processedAssets(), 3);
    }
}

const FailedDownloadCase failedDownloadCases[] = {
    {"error answer", Failure::ErrorAnswer,
        "❌ Download failed for https://pfst.example.net/a/two.png: tab closed"},
    {"incomplete data", Failure::NoData,
        "❌ Download failed for https://poecdn.net/f/report (final).pdf: Incomplete Data"},
    {"no answer until the stall", Failure::NoAnswer, "⚠️ Download stalled for"},
    {"connection gone", Failure::ConnectionGone,
        "❌ Download failed for https://pfst.example.net/a/two.png: Extension disconnected"},
};

INSTANTIATE_TEST_SUITE_P(Cases, FailedDownload, testing::ValuesIn(failedDownloadCases));

TEST(Downloads, StallAndDeadlineFollowTheClock)
{
    // A clock that moves 5 s at every look: the default 30 s stall is reached after a few polls.
    std::atomic<qint64> ticks { 0 };
    const QDateTime start(QDate(2025, 1, 2), QTime(10, 0));
    auto fastClock = [&ticks, start] { return start.addSecs(5 * ticks++); };

    MarkdownConverter stalled(oneImage);
    HookRecorder stalledHooks;
    stalledHooks.attach(stalled);
    stalled.setClock(fastClock);
    stalled.setWaitDurations(300s, 30s, 1ms);
    stalled.process(false);
    EXPECT_TRUE(stalledHooks.logged(QStringLiteral("⚠️ Download stalled for 30s. Aborting wait.")));

    // A deadline shorter than the stall ends the wait first.
    ticks = 0;
    MarkdownConverter late(oneImage);
    HookRecorder lateHooks;
    lateHooks.attach(late);
    late.setClock(fastClock);
    late.setWaitDurations(20s, 30s, 1ms);
    late.process(false);
    EXPECT_FALSE(lateHooks.logged(QStringLiteral("stalled")));
    EXPECT_TRUE(lateHooks.logged(QStringLiteral("⚠️ Downloads timed out.")));
}

TEST(Downloads, NothingToWaitFor)
{
    MarkdownConverter converter(page(QStringLiteral("nodes.html")).replace(QStringLiteral("https://"), QStringLiteral("data:")));
    HookRecorder hooks;
    hooks.attach(converter);
    EXPECT_TRUE(converter.waitForDownloads(0ms));
    converter.process(false);
    EXPECT_TRUE(hooks.requests().isEmpty());
    EXPECT_FALSE(hooks.logged(QStringLiteral("timed out")));
}

} // namespace

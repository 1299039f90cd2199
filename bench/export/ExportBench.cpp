// The whole road of one export, phase by phase, against gumbo's own parse of the same page
// measured in the same run: the generated 18 MiB chat with 3,429 attachments of 20 KB, the
// capture in chunks of about 3 MiB, one download request per attachment, over the real
// loopback socket, with the activity log's sink installed as the application has it.
//
//   export_bench            warm rounds, each: gumbo's parse, one export, the floors; then
//                           first exports in fresh processes with their peak memory
//   export_bench --first DIR
//                           (internal) one export in this fresh process, its vault left in
//                           DIR; prints its figures
//   export_bench --extension ...
//                           (internal) the fake extension (FakeExtension)
//
// The extension runs in a process of its own, so that its memory is not Mossbridge's. The
// phases end when the log lines that close them reach the sink on the main thread (see
// ExportPhaseLog); the whole road and the capture's start are the extension's own moments.
// The figures are only printed; nothing here fails on them.

#include "BenchHome.h"
#include "ChatPageGenerator.h"
#include "ExportPhaseLog.h"
#include "ExportRig.h"
#include "ExtensionProcess.h"
#include "FiguresOutput.h"
#include "FakeExtension.h"
#include "Median.h"
#include "PlainEndpoint.h"
#include "PlainFileWrites.h"
#include "ProcessStatus.h"

#include "convert/MarkdownConverter.h"
#include "core/MemoryTuning.h"
#include "core/UuidText.h"
#include "link/IpcMessage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gumbo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kPageBytes = 18 * 1024 * 1024;
constexpr int kAttachments = 3429;
constexpr qsizetype kAttachmentBytes = 20 * 1024;
// Raw bytes per capture chunk, so that a chunk message stays under the 4 MiB limit.
constexpr qsizetype kChunkRawSize = 3 * 1024 * 1024 - 4096;
// EXPORT_BENCH_ROUNDS and EXPORT_BENCH_FRESH change these (for a profile, say).
constexpr int kRounds = 7;
constexpr int kFreshProcesses = 3;

int countFromEnvironment(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value >= 0 ? value : fallback;
}
// How long a tray application sits idle after start before its first export, at the least.
constexpr int kIdleBeforeFirstMs = 1000;

double seconds(qint64 fromNs, qint64 toNs)
{
    return fromNs > 0 && toNs > 0 ? double(toNs - fromNs) / 1e9 : -1.0;
}

std::unique_ptr<ExtensionProcess> startExtension(const QString& program)
{
    auto extension = std::make_unique<ExtensionProcess>(program,
        QList<ExtensionProcess::Page> {{kPageBytes, kAttachments}}, kAttachmentBytes, kChunkRawSize);
    return extension->started() ? std::move(extension) : nullptr;
}

// The written note: its size and digest, to see that a change leaves it as it was.
QString noteFingerprint(const QString& vault)
{
    QString newest;
    QDateTime newestTime;
    for (QDirIterator it(vault, {QStringLiteral("*.md")}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QDateTime modified = QFileInfo(path).lastModified();
        if (newest.isEmpty() || modified > newestTime) {
            newest = path;
            newestTime = modified;
        }
    }
    QFile file(newest);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("no note");
    }
    const QByteArray bytes = file.readAll();
    // The front matter holds the export's time; the digest is of what follows it.
    const qsizetype end = bytes.indexOf("\n---", 3);
    const QByteArray body = end < 0 ? bytes : bytes.mid(end);
    return QStringLiteral("%1 bytes, sha1 of all after the front matter %2")
        .arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex()));
}

// The note, the attachments and the download requests of the page, as the export makes them:
// what the floors send and write.
struct Converted {
    QByteArray note;
    QMap<QString, QByteArray> assets;
    QList<QString> downloadRequests;
    QList<QString> panelMessages; // what the export shows for each answered download
};

// The panel's two progress messages the export sends for an answered download.
QList<QString> panelMessages()
{
    IPCArgs args;
    args.tabId = 7;
    args.windowId = 1;
    args.session = SessionContext {7, 1, QStringLiteral("processing")};
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Exporting... 50%");
    ui.current = kAttachments / 2;
    ui.total = kAttachments;
    args.ui = ui;
    QList<QString> texts;
    for (const char* command : {"update_ui", "ui_render"}) {
        IPCMessage m = IPCMessage::make(QStringLiteral("app"), QStringLiteral("command"), QString::fromLatin1(command),
            UuidText::fresh(), args);
        texts.append(QString::fromUtf8(m.encode()));
    }
    return texts;
}

Converted convertForFloors(const QByteArray& page)
{
    Converted converted;
    MarkdownConverter converter(QString::fromUtf8(page));
    const QByteArray attachment(kAttachmentBytes, '\x5a');
    converter.onRequestDownload = [&](const QString& url) {
        IPCMessage download = IPCMessage::make(QStringLiteral("app"), QStringLiteral("request"),
            QStringLiteral("download"), UuidText::fresh());
        IPCArgs args;
        args.url = url;
        download.args = args;
        converted.downloadRequests.append(QString::fromUtf8(download.encode()));
        converter.saveDownloadedFile(url, attachment, std::nullopt);
    };
    converter.process(true);
    converted.note = converter.process(false).toUtf8();
    converted.assets = converter.assets();
    converted.panelMessages = panelMessages();
    return converted;
}

double gumboParse(const QByteArray& page)
{
    QElapsedTimer timer;
    timer.start();
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(), size_t(page.size()));
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return double(timer.nsecsElapsed()) / 1e9;
}

enum Phase { start,
    receive,
    parse,
    dryRun,
    downloads,
    write,
    whole,
    phaseCount };
constexpr const char* kPhaseNames[phaseCount] = {
    "start (invoke_export to capture_start)",
    "receive (capture_start to the whole page)",
    "parse and convert (to the DOM built)",
    "dry run",
    "downloads",
    "write (note and attachments)",
    "whole road (invoke_export to reply)",
};

std::array<double, phaseCount> phasesOf(const ExtensionRound& round, const ExportPhaseLog& log)
{
    return {
        seconds(round.invokedAt, round.captureAskedAt),
        seconds(round.captureAskedAt, log.at(ExportPhaseLog::captureComplete)),
        seconds(log.at(ExportPhaseLog::captureComplete), log.at(ExportPhaseLog::conversionStarted)),
        seconds(log.at(ExportPhaseLog::conversionStarted), log.at(ExportPhaseLog::scanned)),
        seconds(log.at(ExportPhaseLog::scanned), log.at(ExportPhaseLog::generated)),
        seconds(log.at(ExportPhaseLog::generated), log.at(ExportPhaseLog::processed)),
        round.seconds(),
    };
}

int runFirstExport(const QString& program, const QString& vaultParent)
{
    ExportPhaseLog log;
    ExportRig rig(log.sink(), vaultParent);
    const std::unique_ptr<ExtensionProcess> extension = startExtension(program);
    if (!extension || !extension->connectTo(rig.port())) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    ::sync(); // as in the warm rounds: no export pays for the dirty pages of what ran before
    ExportRig::runEventsFor(kIdleBeforeFirstMs);
    const qint64 beforeKb = processStatusKb("VmHWM");
    const std::optional<ExtensionRound> round = extension->exportPage(0);
    if (!round || !round->succeeded) {
        std::fprintf(stderr, "the export did not succeed\n");
        return 1;
    }
    ExportRig::runEventsFor(200);
    const std::array<double, phaseCount> phases = phasesOf(*round, log);
    std::printf("first_s=%.6f before_kb=%lld peak_kb=%lld", round->seconds(), static_cast<long long>(beforeKb),
        static_cast<long long>(processStatusKb("VmHWM")));
    for (int i = 0; i < phaseCount; ++i) {
        std::printf(" phase%d=%.6f", i, phases[i]);
    }
    std::printf("\n");
    return 0;
}

struct FirstExport {
    std::array<double, phaseCount> phases {};
    double seconds = -1;
    qint64 beforeKb = -1;
    qint64 peakKb = -1;
};

FirstExport measureFirstExport(const QString& program, const QString& vaultParent)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, {QStringLiteral("--first"), vaultParent});
    child.waitForFinished(-1);
    FirstExport m;
    // The figures are the last line; the libraries may print lines of their own before it.
    const QByteArray figuresLine = child.readAllStandardOutput().trimmed().split('\n').constLast();
    for (const QByteArray& field : figuresLine.trimmed().split(' ')) {
        const QList<QByteArray> kv = field.split('=');
        if (kv.size() != 2) {
            continue;
        }
        if (kv[0] == "first_s") {
            m.seconds = kv[1].toDouble();
        } else if (kv[0] == "before_kb") {
            m.beforeKb = kv[1].toLongLong();
        } else if (kv[0] == "peak_kb") {
            m.peakKb = kv[1].toLongLong();
        } else if (kv[0].startsWith("phase") && kv[0].mid(5).toInt() < phaseCount) {
            m.phases[kv[0].mid(5).toInt()] = kv[1].toDouble();
        }
    }
    return m;
}

// The figures; standard output itself gets the stores' own lines, which are dropped.
FILE* figuresOut = stdout;

void printRatio(const char* name, double value, double gumbo, const char* note = "")
{
    std::fprintf(figuresOut, "  %-44s %9.1f ms  %6.2fx gumbo%s\n", name, value * 1000.0, gumbo > 0 ? value / gumbo : 0.0, note);
}

int runRounds(const QString& program)
{
    const QByteArray page = generateChatPage(kPageBytes, kAttachments);
    const Converted converted = convertForFloors(page);
    const double payloadMb = double(page.size() + qint64(kAttachments) * kAttachmentBytes) / (1024.0 * 1024.0);
    std::fprintf(figuresOut, "page: %.2f MiB, %d attachments of %lld KiB (page and downloads: %.1f MiB), chunks of %.2f MiB\n",
        double(page.size()) / (1024.0 * 1024.0), kAttachments, static_cast<long long>(kAttachmentBytes / 1024),
        payloadMb, double(kChunkRawSize) / (1024.0 * 1024.0));

    ExportPhaseLog log;
    ExportRig rig(log.sink());
    const std::unique_ptr<ExtensionProcess> extension = startExtension(program);
    PlainEndpoint floor;
    if (!extension || !extension->connectTo(rig.port()) || !extension->connectFloor(floor.port(), 0)
        || !floor.waitForClient(10000)) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    ExportRig::runEventsFor(200); // the controller notes the connection on the main thread
    QTemporaryDir floorRoot;

    std::vector<double> gumbo;
    std::array<std::vector<double>, phaseCount> phases;
    std::vector<double> wireDownloads; // first download request at the extension to "Generated"
    std::vector<double> requestSpread; // the first download request to the last, at the extension
    std::vector<double> logLag;        // "Scanned" at the sink after the first request at the extension
    std::vector<double> receiveFloor;
    std::vector<double> roundTripFloor;
    std::vector<double> writeFloor;
    qint64 linesPerExport = 0;
    QString fingerprint;
    // Round 0 warms up and is not counted: the first export of a process is measured apart.
    const int rounds = std::max(1, countFromEnvironment("EXPORT_BENCH_ROUNDS", kRounds));
    for (int round = 0; round <= rounds; ++round) {
        const double parsed = gumboParse(page);

        ::sync(); // no round pays for the dirty pages of the one before
        log.reset();
        const qint64 linesBefore = log.lines();
        const std::optional<ExtensionRound> exported = extension->exportPage(0);
        if (!exported || !exported->succeeded || exported->downloads != kAttachments) {
            std::fprintf(stderr, "the export did not succeed\n");
            return 1;
        }
        ExportRig::runEventsFor(100); // the last lines reach the sink; what follows the reply runs
        linesPerExport = log.lines() - linesBefore;
        if (round == 0) {
            fingerprint = noteFingerprint(rig.vaultPath());
        }

        const double received = floor.receiveCapture(60000);
        const double roundTrips = floor.roundTrips(converted.downloadRequests, converted.panelMessages, 60000);
        ::sync();
        QElapsedTimer timer;
        timer.start();
        const bool written = writePlainly(floorRoot.filePath(QString::number(round)), converted.note, converted.assets, true);
        const double writing = double(timer.nsecsElapsed()) / 1e9;
        if (received < 0 || roundTrips < 0 || !written) {
            std::fprintf(stderr, "a floor could not be measured (receive %.3f s, round trips %.3f s, written: %d)\n",
                received, roundTrips, int(written));
            return 1;
        }
        if (round == 0) {
            continue;
        }
        gumbo.push_back(parsed);
        const std::array<double, phaseCount> p = phasesOf(*exported, log);
        for (int i = 0; i < phaseCount; ++i) {
            phases[i].push_back(p[i]);
        }
        wireDownloads.push_back(seconds(exported->firstDownloadAt, log.at(ExportPhaseLog::generated)));
        requestSpread.push_back(seconds(exported->firstDownloadAt, exported->lastDownloadAt));
        logLag.push_back(seconds(exported->firstDownloadAt, log.at(ExportPhaseLog::scanned)));
        receiveFloor.push_back(received);
        roundTripFloor.push_back(roundTrips);
        writeFloor.push_back(writing);
        std::fprintf(stderr, "round %d: gumbo %.0f ms, export %.0f ms\n", round, parsed * 1000.0, p[whole] * 1000.0);
    }

    const double g = median(gumbo);
    std::fprintf(figuresOut, "\nmedians of %d rounds (each phase's own median; they need not add up to the whole):\n", rounds);
    printRatio("gumbo_parse of the page (the measure)", g, g);
    for (int i = 0; i < phaseCount; ++i) {
        const char* goal = i == parse ? "  (goal <= 1.15x)" : i == whole ? "  (goal <= 2.2x)"
                                                                         : "";
        printRatio(kPhaseNames[i], median(phases[i]), g, goal);
    }
    std::fprintf(figuresOut, "\nfloors, measured in the same rounds:\n");
    printRatio("receive: plain QWebSocket + base64", median(receiveFloor), g);
    printRatio("downloads: the same messages at once, plainly", median(roundTripFloor), g);
    printRatio("write: plain write(2) of the same files + syncfs", median(writeFloor), g);
    std::fprintf(figuresOut, "\nhow the phases were seen:\n");
    std::fprintf(figuresOut, "  downloads from the first request at the extension: %.1f ms\n", median(wireDownloads) * 1000.0);
    std::fprintf(figuresOut, "  the download requests reached the extension over %.1f ms\n", median(requestSpread) * 1000.0);
    std::fprintf(figuresOut, "  \"Scanned\" reached the sink %.1f ms after the first request reached the extension\n",
        median(logLag) * 1000.0);
    std::fprintf(figuresOut, "  activity-log lines per export: %lld\n", static_cast<long long>(linesPerExport));
    std::fprintf(figuresOut, "  note: %s\n", qPrintable(fingerprint));

    std::vector<double> firsts;
    std::vector<double> peaks;
    std::vector<double> befores;
    std::array<std::vector<double>, phaseCount> firstPhases;
    const int freshProcesses = countFromEnvironment("EXPORT_BENCH_FRESH", kFreshProcesses);
    // The fresh processes' vaults, removed at the end: see ExportRig.
    const QTemporaryDir freshVaults;
    for (int i = 0; i < freshProcesses; ++i) {
        const FirstExport m = measureFirstExport(program, freshVaults.path());
        if (m.seconds < 0) {
            std::fprintf(figuresOut, "first export in a fresh process: no figures\n");
            return 1;
        }
        firsts.push_back(m.seconds);
        peaks.push_back(double(m.peakKb) / 1024.0);
        befores.push_back(double(m.beforeKb) / 1024.0);
        for (int p = 0; p < phaseCount; ++p) {
            firstPhases[p].push_back(m.phases[p]);
        }
    }
    if (firsts.empty()) {
        return 0;
    }
    const double peak = median(peaks);
    std::fprintf(figuresOut, "\nfirst export in a fresh process (median of %d; the extension in a process of its own):\n",
        freshProcesses);
    for (int i = 0; i < phaseCount; ++i) {
        printRatio(kPhaseNames[i], median(firstPhases[i]), g);
    }
    std::fprintf(figuresOut, "  peak RSS of Mossbridge's process: %.1f MiB = %.2fx page and downloads (goal <= 4x); "
                             "%.1f MiB before the export\n",
        peak, peak / payloadMb, median(befores));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = FakeExtension::serveWhenAsked(argc, argv)) {
        return *status;
    }
    tuneAllocatorForLargeBuffers(); // as the application does
    const BenchHome home;
    QCoreApplication app(argc, argv);
    const QString program = QCoreApplication::applicationFilePath();
    if (argc == 3 && std::strcmp(argv[1], "--first") == 0) {
        return runFirstExport(program, QString::fromLocal8Bit(argv[2]));
    }
    figuresOut = figuresApartFromStandardOutput();
    return runRounds(program);
}

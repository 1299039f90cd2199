// The write phase of an export on its own: the vault writer storing the note of the large
// generated chat page with its 3,429 attachments of 20 KB, next to the floor measured in the
// same run, the same bytes written with plain write(2) into fresh files (no sync at all), and
// the floor followed by one sync of the file system.
//
// Every round starts from a synced disk, so no round pays for the dirty pages of the one
// before, and nothing is deleted until the end: ext4 makes creating files slow for a while
// after many were deleted. The vault and the settings live in temporary folders on the disk of
// the system's temporary folder (TMPDIR); about 1.6 GB are written.

#include "BenchHome.h"
#include "ChatPageGenerator.h"
#include "Median.h"
#include "PlainFileWrites.h"

#include "convert/MarkdownConverter.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kPageBytes = 18 * 1024 * 1024;
constexpr int kAttachments = 3429;
constexpr qsizetype kAttachmentBytes = 20 * 1024;

struct Note {
    QString markdown;
    QMap<QString, QByteArray> assets;
};

// The note and the assets exactly as an export hands them to the writer.
const Note& note()
{
    static const Note converted = [] {
        MarkdownConverter converter(QString::fromUtf8(generateChatPage(kPageBytes, kAttachments)));
        const QByteArray attachment(kAttachmentBytes, '\x5a');
        converter.onRequestDownload = [&converter, &attachment](const QString& url) {
            converter.saveDownloadedFile(url, attachment, std::nullopt);
        };
        converter.process(true);
        Note result;
        result.markdown = converter.process(false);
        result.assets = converter.assets();
        return result;
    }();
    return converted;
}

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Figures {
    double writer = 0;
    double plain = 0;
    double plainAndSync = 0;
};
Figures figures;

void BM_WritePhase(benchmark::State& state)
{
    QTemporaryDir settings;
    QTemporaryDir root;
    UserDefaults::setStandardPath(settings.filePath(QStringLiteral("Mossbridge.conf")));
    ConfigManager::shared().reload();
    const QString vault = root.filePath(QStringLiteral("Bench Vault"));
    QDir().mkpath(vault);
    VaultManager().setVaultURL(vault);
    const QByteArray noteBytes = note().markdown.toUtf8();

    std::vector<double> writer;
    std::vector<double> plain;
    std::vector<double> plainAndSync;
    for (auto _ : state) {
        // The vault writer (the note's text is handed over as the export hands it: as text).
        ::sync();
        QElapsedTimer timer;
        timer.start();
        try {
            VaultWriter().write(note().markdown, QStringLiteral("Bench.md"), note().assets);
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
            return;
        }
        writer.push_back(msSince(timer));

        // The floor, and the floor with one sync of the file system after it.
        for (const bool withSync : {false, true}) {
            const QString folder = root.filePath(QStringLiteral("%1 %2")
                                                     .arg(withSync ? QStringLiteral("synced") : QStringLiteral("plain"))
                                                     .arg(writer.size()));
            ::sync();
            timer.start();
            if (!writePlainly(folder, noteBytes, note().assets, withSync)) {
                state.SkipWithError("the plain writes failed");
                return;
            }
            (withSync ? plainAndSync : plain).push_back(msSince(timer));
        }
        state.SetIterationTime(writer.back() / 1000.0);
    }
    figures = {median(writer), median(plain), median(plainAndSync)};
    state.counters["writer_ms"] = figures.writer;
    state.counters["plain_ms"] = figures.plain;
    state.counters["plain_sync_ms"] = figures.plainAndSync;
}

BENCHMARK(BM_WritePhase)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

} // namespace

int main(int argc, char** argv)
{
    const BenchHome home;
    QCoreApplication app(argc, argv);

    qint64 assetBytes = 0;
    for (const QByteArray& bytes : note().assets) {
        assetBytes += bytes.size();
    }
    std::printf("note: %.2f MB of Markdown, %lld attachments, %.2f MB in all\n",
        double(note().markdown.toUtf8().size()) / (1024.0 * 1024.0), static_cast<long long>(note().assets.size()),
        double(assetBytes) / (1024.0 * 1024.0));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nmedians of the rounds:\n");
    std::printf("write phase (note and attachments):  %8.1f ms  (%.2fx the plain writes, goal <= 2x)\n",
        figures.writer, figures.plain > 0 ? figures.writer / figures.plain : 0.0);
    std::printf("plain write(2) into fresh files:     %8.1f ms\n", figures.plain);
    std::printf("the same, then one sync of the disk: %8.1f ms\n", figures.plainAndSync);
    return 0;
}

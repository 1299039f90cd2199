// A tray application that runs for weeks: many exports one after another in one process,
// over the real loopback socket, with the activity log window in place (hidden, as it is most
// of the time). A small chat (3 attachments) and a 2.8 MB chat (40 attachments) alternate;
// every hundred exports the program prints the median latency of each kind, the resident
// memory, what the allocator holds and the main thread's share of a core.
//
//   export_longrun_bench [N]        N exports (default 1000), then the summary
//   export_longrun_bench --abandoned
//                                   120 captures of 3 MB that never complete: resident memory
//                                   before, once they are in, and 140 s after they were sent
//
// Settings and the vault live in temporary folders; the extension is a WebSocket client in a
// process of its own (this program again, with `--extension`), so its memory is not counted.
// The figures are only printed; nothing here fails on them.

#include "BenchHome.h"
#include "ChatPageGenerator.h"
#include "ConversionRun.h"
#include "ExportRig.h"
#include "ExtensionProcess.h"
#include "FiguresOutput.h"
#include "FakeExtension.h"
#include "Median.h"
#include "ProcessStatus.h"

#include "core/MemoryTuning.h"
#include "shell/ActivityLogWindow.h"

#include <QApplication>
#include <QElapsedTimer>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The figures; standard output itself gets the history's own lines, which are dropped.
FILE* figuresOut = stdout;

struct ChatKind {
    const char* name;
    qint64 pageBytes;
    int attachments;
};
constexpr ChatKind kSmall {"small", 40 * 1024, 3};
constexpr ChatKind kLarge {"large", 2800 * 1024, 40};
constexpr qsizetype kChunkRawSize = 512 * 1024;

constexpr qsizetype kAttachmentBytes = 32 * 1024;

// What the allocator has taken from the system and what of it is in use, in KB.
struct HeapFigures {
    qint64 heldKb = 0;
    qint64 usedKb = 0;
};

HeapFigures heapFigures()
{
    const struct mallinfo2 info = mallinfo2();
    return {qint64((info.arena + info.hblkhd) / 1024), qint64((info.uordblks + info.hblkhd) / 1024)};
}

double threadCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The extension, with the small page as page 0 and the large one as page 1.
std::unique_ptr<ExtensionProcess> startExtension(const QList<ChatKind>& kinds)
{
    QList<ExtensionProcess::Page> pages;
    for (const ChatKind& kind : kinds) {
        pages.append({kind.pageBytes, kind.attachments});
    }
    auto extension = std::make_unique<ExtensionProcess>(QCoreApplication::applicationFilePath(), pages,
        kAttachmentBytes, kChunkRawSize);
    return extension->started() ? std::move(extension) : nullptr;
}

// The application's log window receives every line, hidden as it is most of the time.
class LongRun {
public:
    explicit LongRun(const QList<ChatKind>& kinds)
        : rig_([this](const QString& line) { logWindow_.appendLine(line); })
        , extension_(startExtension(kinds))
    {
        ready_ = extension_ && extension_->connectTo(rig_.port());
        ExportRig::runEventsFor(200); // the controller notes the connection on the main thread
    }

    bool ready() const { return ready_; }
    const ActivityLogWindow& logWindow() const { return logWindow_; }
    ExtensionProcess& extension() { return *extension_; }

    // One export; the time is the extension's, from "invoke_export" to the reply.
    std::optional<double> exportOnce(int page)
    {
        const std::optional<ExtensionRound> round = extension_->exportPage(page);
        // What follows the reply (history, notification, status) runs before the next export.
        ExportRig::runEventsFor(5);
        if (!round || !round->succeeded) {
            return std::nullopt;
        }
        return round->seconds();
    }

private:
    ActivityLogWindow logWindow_;
    ExportRig rig_;
    std::unique_ptr<ExtensionProcess> extension_;
    bool ready_ = false;
};

// The same pages through the converter alone, answering every download at once: the floor.
double conversionFloor(const QByteArray& page, const ChatKind& kind)
{
    const QString text = QString::fromUtf8(page);
    const QByteArray attachment(kAttachmentBytes, '\x5a');
    std::vector<double> rounds;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        convertLikeTheExport(text, attachment, kind.attachments);
        rounds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    return median(rounds);
}

struct Hundred {
    double small = 0;
    double large = 0;
    qint64 rssKb = 0;
    HeapFigures heap;
    double mainCpu = 0;
};

int runLong(int exports)
{
    const QList<QByteArray> pages {generateChatPage(kSmall.pageBytes, kSmall.attachments),
        generateChatPage(kLarge.pageBytes, kLarge.attachments)};
    const double floorSmall = conversionFloor(pages[0], kSmall);
    const double floorLarge = conversionFloor(pages[1], kLarge);
    std::fprintf(figuresOut, "pages: small %.0f KB with %d attachments, large %.2f MB with %d attachments\n",
        double(pages[0].size()) / 1024.0, kSmall.attachments, double(pages[1].size()) / (1024.0 * 1024.0),
        kLarge.attachments);
    std::fprintf(figuresOut, "conversion alone (floor): small %.1f ms, large %.1f ms\n\n", floorSmall * 1000.0, floorLarge * 1000.0);

    LongRun rig({kSmall, kLarge});
    if (!rig.ready()) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    std::fprintf(figuresOut, "%8s %10s %10s %10s %11s %11s %9s %10s\n", "exports", "small ms", "large ms", "RSS MB",
        "heap held", "heap used", "main cpu", "log KB");
    std::vector<Hundred> hundreds;
    std::vector<double> small;
    std::vector<double> large;
    QElapsedTimer wall;
    wall.start();
    double cpuAtStart = threadCpuSeconds();
    for (int i = 1; i <= exports; ++i) {
        const int page = (i % 2 == 1) ? 0 : 1;
        const std::optional<double> seconds = rig.exportOnce(page);
        if (!seconds) {
            std::fprintf(stderr, "export %d did not succeed\n", i);
            return 1;
        }
        (page == 0 ? small : large).push_back(*seconds);
        if (i % 100 == 0) {
            Hundred h;
            h.small = median(small);
            h.large = median(large);
            h.rssKb = processStatusKb("VmRSS");
            h.heap = heapFigures();
            const double cpu = threadCpuSeconds();
            h.mainCpu = (cpu - cpuAtStart) / (double(wall.nsecsElapsed()) / 1e9);
            hundreds.push_back(h);
            std::fprintf(figuresOut, "%8d %10.1f %10.1f %10.1f %8.1f MB %8.1f MB %8.0f%% %10.0f\n", i, h.small * 1000.0,
                h.large * 1000.0, double(h.rssKb) / 1024.0, double(h.heap.heldKb) / 1024.0,
                double(h.heap.usedKb) / 1024.0, h.mainCpu * 100.0,
                double(rig.logWindow().text().toUtf8().size()) / 1024.0);
            std::fflush(figuresOut);
            small.clear();
            large.clear();
            wall.restart();
            cpuAtStart = cpu;
        }
    }
    if (hundreds.size() >= 3) {
        const Hundred& second = hundreds[1];
        const Hundred& last = hundreds.back();
        std::fprintf(figuresOut, "\nlast hundred against the second: small %.2fx, large %.2fx (goal <= 1.2x)\n",
            last.small / second.small, last.large / second.large);
        std::fprintf(figuresOut, "resident memory after the second hundred: %+.1f KB per export (goal < 20 KB)\n",
            double(last.rssKb - second.rssKb) / double(exports - 200));
        std::fprintf(figuresOut, "last hundred against the floor: small %.2fx, large %.2fx the conversion alone\n",
            last.small / floorSmall, last.large / floorLarge);
    }
    return 0;
}

int runAbandoned()
{
    constexpr int kPayloads = 120;
    constexpr qsizetype kPayloadBytes = 3 * 1024 * 1024;
    constexpr qsizetype kChunks = 3;
    LongRun rig({});
    if (!rig.ready()) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    ExportRig::runEventsFor(2000);
    const qint64 before = processStatusKb("VmRSS");
    const HeapFigures heapBefore = heapFigures();
    QElapsedTimer sinceSent;
    sinceSent.start();
    if (!rig.extension().sendAbandoned(kPayloads, kPayloadBytes, kChunks)) {
        std::fprintf(stderr, "the captures could not be sent\n");
        return 1;
    }
    ExportRig::runEventsFor(5000); // the server has taken them all in
    const qint64 held = processStatusKb("VmRSS");
    const HeapFigures heapHeld = heapFigures();
    std::fprintf(figuresOut, "%d captures of %.0f MB, %lld of %lld chunks each, never completed\n", kPayloads,
        double(kPayloadBytes) / (1024.0 * 1024.0), static_cast<long long>(kChunks - 1), static_cast<long long>(kChunks));
    while (sinceSent.elapsed() < 140000) {
        ExportRig::runEventsFor(500);
    }
    const qint64 after = processStatusKb("VmRSS");
    const HeapFigures heapAfter = heapFigures();
    const auto line = [](const char* when, qint64 rssKb, const HeapFigures& heap) {
        std::fprintf(figuresOut, "%-24s RSS %7.1f MB, heap held %7.1f MB, in use %7.1f MB\n", when, double(rssKb) / 1024.0,
            double(heap.heldKb) / 1024.0, double(heap.usedKb) / 1024.0);
    };
    line("before:", before, heapBefore);
    line("with them held:", held, heapHeld);
    line("140 s after sending:", after, heapAfter);
    std::fprintf(figuresOut, "resident memory 140 s after sending: %+.1f MB against before (goal within 60 MB)\n",
        double(after - before) / 1024.0);
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    figuresOut = figuresApartFromStandardOutput();
    QApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--abandoned") == 0) {
        return runAbandoned();
    }
    const int exports = argc == 2 ? std::max(100, std::atoi(argv[1])) : 1000;
    return runLong(exports);
}

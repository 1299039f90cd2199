// Conversion of a large captured chat page against gumbo's parse alone, and the peak memory
// of each, each phase in a fresh child process so that one phase's peak does not hide
// another's.
//
//   convert_bench                 run the timings, then the memory phases, print the ratios
//   convert_bench --phase NAME    (internal) run one phase once and print its memory figures

#include "ChatPageGenerator.h"
#include "ConversionRun.h"
#include "ProcessStatus.h"

#include "convert/HtmlDocument.h"
#include "core/MemoryTuning.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

constexpr qint64 kPageBytes = 18 * 1024 * 1024;
constexpr int kImages = 100;

const QByteArray& pageBytes()
{
    static const QByteArray page = generateChatPage(kPageBytes, kImages);
    return page;
}

const QString& pageText()
{
    static const QString page = QString::fromUtf8(pageBytes());
    return page;
}

const QByteArray& imageBytes()
{
    static const QByteArray bytes(48 * 1024, '\x7f');
    return bytes;
}

void gumboParseOnce(const QByteArray& page)
{
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(), size_t(page.size()));
    benchmark::DoNotOptimize(output);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
}

qint64 convertOnce(const QString& page)
{
    return convertLikeTheExport(page, imageBytes(), kImages);
}

void BM_GumboParse(benchmark::State& state)
{
    const QByteArray& page = pageBytes();
    for (auto _ : state)
        gumboParseOnce(page);
    state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_HtmlDocumentParse(benchmark::State& state)
{
    const QByteArray& page = pageBytes();
    for (auto _ : state) {
        auto doc = HtmlDocument::parse(page);
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_Conversion(benchmark::State& state)
{
    const QString& page = pageText();
    qint64 noteChars = 0;
    for (auto _ : state)
        noteChars = convertOnce(page);
    state.SetBytesProcessed(state.iterations() * pageBytes().size());
    state.counters["note_chars"] = double(noteChars);
}

BENCHMARK(BM_GumboParse)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_HtmlDocumentParse)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Conversion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Keeps each benchmark's mean real time per iteration, in seconds.
class CapturingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds[run.run_name.function_name] = run.real_accumulated_time / double(run.iterations);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

// One phase in this (fresh) process. The page is made first: what the phase adds on top of
// holding the page is the difference of the two figures.
int runPhase(const std::string& phase)
{
    if (phase == "gumbo") {
        const QByteArray& page = pageBytes();
        const qint64 before = processStatusKb("VmHWM");
        gumboParseOnce(page);
        std::printf("page_bytes=%lld before_kb=%lld peak_kb=%lld\n", static_cast<long long>(page.size()),
            static_cast<long long>(before), static_cast<long long>(processStatusKb("VmHWM")));
        return 0;
    }
    if (phase == "convert") {
        // The export holds the page as text; the UTF-8 bytes are only the generator's.
        const qint64 bytes = pageBytes().size();
        QString page = QString::fromUtf8(pageBytes());
        const_cast<QByteArray&>(pageBytes()) = QByteArray();
        const qint64 before = processStatusKb("VmHWM");
        convertOnce(page);
        std::printf("page_bytes=%lld before_kb=%lld peak_kb=%lld\n", static_cast<long long>(bytes),
            static_cast<long long>(before), static_cast<long long>(processStatusKb("VmHWM")));
        return 0;
    }
    std::fprintf(stderr, "unknown phase %s\n", phase.c_str());
    return 2;
}

struct PhaseMemory {
    qint64 pageBytes = 0;
    qint64 beforeKb = -1;
    qint64 peakKb = -1;
};

PhaseMemory measurePhase(const char* exe, const char* phase)
{
    QProcess child;
    child.start(QString::fromLocal8Bit(exe), {QStringLiteral("--phase"), QString::fromLatin1(phase)});
    child.waitForFinished(-1);
    PhaseMemory m;
    for (const QByteArray& field : child.readAllStandardOutput().trimmed().split(' ')) {
        const QList<QByteArray> kv = field.split('=');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "page_bytes")
            m.pageBytes = kv[1].toLongLong();
        else if (kv[0] == "before_kb")
            m.beforeKb = kv[1].toLongLong();
        else if (kv[0] == "peak_kb")
            m.peakKb = kv[1].toLongLong();
    }
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    tuneAllocatorForLargeBuffers(); // as the application does
    if (argc == 3 && std::strcmp(argv[1], "--phase") == 0)
        return runPhase(argv[2]);

    QCoreApplication app(argc, argv);
    std::printf("page: %.2f MB, %d images\n", double(pageBytes().size()) / (1024.0 * 1024.0), kImages);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CapturingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double gumbo = reporter.seconds["BM_GumboParse"];
    const double dom = reporter.seconds["BM_HtmlDocumentParse"];
    const double conversion = reporter.seconds["BM_Conversion"];
    std::printf("\ngumbo parse alone:      %8.1f ms\n", gumbo * 1000.0);
    std::printf("DOM parse (gumbo+copy): %8.1f ms  (%.2fx gumbo)\n", dom * 1000.0, gumbo > 0 ? dom / gumbo : 0.0);
    std::printf("whole conversion:       %8.1f ms  (%.2fx gumbo, goal <= 2.0x)\n", conversion * 1000.0,
        gumbo > 0 ? conversion / gumbo : 0.0);

    const double mb = 1024.0;
    for (const char* phase : {"gumbo", "convert"}) {
        const PhaseMemory m = measurePhase(argv[0], phase);
        if (m.peakKb < 0 || m.pageBytes <= 0) {
            std::printf("%s phase: no memory figures\n", phase);
            continue;
        }
        const double pageKb = double(m.pageBytes) / 1024.0;
        std::printf("peak RSS, %-7s phase:  %7.1f MB (%.1fx page; %.1f MB before the phase%s)\n", phase,
            double(m.peakKb) / mb, double(m.peakKb) / pageKb, double(m.beforeKb) / mb,
            std::strcmp(phase, "convert") == 0 ? ", goal <= 15x" : "");
    }
    return 0;
}

// The conversion of two generated pages against gumbo's own parse of the same bytes, measured
// side by side in one run: a large captured chat (18 MB, 100 images) and a page of 2,000,000
// tiny elements. Then the peak memory of gumbo's parse and of the whole conversion of each,
// per page byte and per element, each phase in a fresh child process so that one phase's peak
// does not hide another's.
//
//   convert_bench                       run the timings, then the memory phases, print the ratios
//   convert_bench --phase PHASE PAGE    (internal) run one phase once and print its memory figures

#include "ChatPageGenerator.h"
#include "ConversionRun.h"
#include "ProcessStatus.h"
#include "TinyElementPage.h"

#include "convert/HtmlDocument.h"
#include "core/MemoryTuning.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Page {
    const char* name;
    QByteArray (*make)();
    int images;       // the downloads its conversion asks for
    int iterations;   // of each timing
};

const Page kPages[] = {
    {"chat", [] { return generateChatPage(18 * 1024 * 1024, 100); }, 100, 5},
    {"tiny", [] { return generateTinyElementPage(2000000); }, 0, 3},
};

const Page* findPage(const char* name)
{
    for (const Page& page : kPages) {
        if (std::strcmp(page.name, name) == 0)
            return &page;
    }
    return nullptr;
}

const QByteArray& pageBytes(const Page& page)
{
    static std::map<std::string, QByteArray> made;
    QByteArray& bytes = made[page.name];
    if (bytes.isEmpty())
        bytes = page.make();
    return bytes;
}

const QByteArray& imageBytes()
{
    static const QByteArray bytes(48 * 1024, '\x7f');
    return bytes;
}

GumboOutput* gumboParse(const QByteArray& page)
{
    return gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(), size_t(page.size()));
}

qint64 countElements(const GumboNode* root)
{
    qint64 elements = 0;
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        ++elements;
        for (unsigned i = 0; i < node->v.element.children.length; ++i)
            stack.push_back(static_cast<const GumboNode*>(node->v.element.children.data[i]));
    }
    return elements;
}

void registerTimings()
{
    for (const Page& page : kPages) {
        const std::string name = page.name;
        benchmark::RegisterBenchmark(("gumbo/" + name).c_str(), [&page](benchmark::State& state) {
            const QByteArray& bytes = pageBytes(page);
            for (auto _ : state) {
                GumboOutput* output = gumboParse(bytes);
                benchmark::DoNotOptimize(output);
                gumbo_destroy_output(&kGumboDefaultOptions, output);
            }
            state.SetBytesProcessed(state.iterations() * bytes.size());
        })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(page.iterations);
        benchmark::RegisterBenchmark(("dom/" + name).c_str(), [&page](benchmark::State& state) {
            const QByteArray& bytes = pageBytes(page);
            for (auto _ : state) {
                auto doc = HtmlDocument::parse(bytes);
                benchmark::DoNotOptimize(doc.get());
            }
            state.SetBytesProcessed(state.iterations() * bytes.size());
        })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(page.iterations);
        benchmark::RegisterBenchmark(("conversion/" + name).c_str(), [&page](benchmark::State& state) {
            // The export holds the page as text.
            const QString text = QString::fromUtf8(pageBytes(page));
            qint64 noteChars = 0;
            for (auto _ : state)
                noteChars = convertLikeTheExport(text, imageBytes(), page.images);
            state.SetBytesProcessed(state.iterations() * pageBytes(page).size());
            state.counters["note_chars"] = double(noteChars);
        })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(page.iterations);
    }
}

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
int runPhase(const std::string& phase, const Page& page)
{
    const qint64 bytes = pageBytes(page).size();
    if (phase == "gumbo") {
        const qint64 before = processStatusKb("VmHWM");
        GumboOutput* output = gumboParse(pageBytes(page));
        const qint64 peak = processStatusKb("VmHWM");
        std::printf("page_bytes=%lld elements=%lld before_kb=%lld peak_kb=%lld\n", static_cast<long long>(bytes),
            static_cast<long long>(countElements(output->root)), static_cast<long long>(before),
            static_cast<long long>(peak));
        return 0;
    }
    if (phase == "convert") {
        // The export holds the page as text; the UTF-8 bytes are only the generator's.
        QString text = QString::fromUtf8(pageBytes(page));
        const_cast<QByteArray&>(pageBytes(page)) = QByteArray();
        const qint64 before = processStatusKb("VmHWM");
        convertLikeTheExport(text, imageBytes(), page.images);
        std::printf("page_bytes=%lld before_kb=%lld peak_kb=%lld\n", static_cast<long long>(bytes),
            static_cast<long long>(before), static_cast<long long>(processStatusKb("VmHWM")));
        return 0;
    }
    std::fprintf(stderr, "unknown phase %s\n", phase.c_str());
    return 2;
}

struct PhaseMemory {
    qint64 pageBytes = 0;
    qint64 elements = 0;
    qint64 beforeKb = -1;
    qint64 peakKb = -1;
};

PhaseMemory measurePhase(const char* exe, const char* phase, const Page& page)
{
    QProcess child;
    child.start(QString::fromLocal8Bit(exe),
        {QStringLiteral("--phase"), QString::fromLatin1(phase), QString::fromLatin1(page.name)});
    child.waitForFinished(-1);
    PhaseMemory m;
    for (const QByteArray& field : child.readAllStandardOutput().trimmed().split(' ')) {
        const QList<QByteArray> kv = field.split('=');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "page_bytes")
            m.pageBytes = kv[1].toLongLong();
        else if (kv[0] == "elements")
            m.elements = kv[1].toLongLong();
        else if (kv[0] == "before_kb")
            m.beforeKb = kv[1].toLongLong();
        else if (kv[0] == "peak_kb")
            m.peakKb = kv[1].toLongLong();
    }
    return m;
}

void printTimes(const Page& page, CapturingReporter& reporter)
{
    const std::string name = page.name;
    const double gumbo = reporter.seconds["gumbo/" + name];
    const double dom = reporter.seconds["dom/" + name];
    const double conversion = reporter.seconds["conversion/" + name];
    const auto ratio = [gumbo](double seconds) { return gumbo > 0 ? seconds / gumbo : 0.0; };
    std::printf("\n%s page, %.2f MB:\n", page.name, double(pageBytes(page).size()) / (1024.0 * 1024.0));
    std::printf("  gumbo parse alone:         %8.1f ms\n", gumbo * 1000.0);
    std::printf("  DOM parse (gumbo + copy):  %8.1f ms  (%.2fx gumbo)\n", dom * 1000.0, ratio(dom));
    std::printf("  whole conversion:          %8.1f ms  (%.2fx gumbo; goal for the chat page <= 1.15x)\n",
        conversion * 1000.0, ratio(conversion));
}

void printMemory(const char* exe, const Page& page)
{
    const PhaseMemory gumbo = measurePhase(exe, "gumbo", page);
    const PhaseMemory convert = measurePhase(exe, "convert", page);
    if (gumbo.peakKb < 0 || convert.peakKb < 0 || gumbo.pageBytes <= 0 || gumbo.elements <= 0) {
        std::printf("  %s page: no memory figures\n", page.name);
        return;
    }
    std::printf("  %s page: %lld elements\n", page.name, static_cast<long long>(gumbo.elements));
    for (const auto& [phase, m] : {std::pair{"gumbo", gumbo}, std::pair{"convert", convert}}) {
        const double peak = double(m.peakKb) * 1024.0;
        std::printf("  peak RSS, %-7s phase: %7.1f MB = %5.1f bytes per page byte, %5.0f bytes per element"
                    " (%.1f MB before the phase)%s\n",
            phase, peak / (1024.0 * 1024.0), peak / double(gumbo.pageBytes), peak / double(gumbo.elements),
            double(m.beforeKb) / 1024.0,
            std::strcmp(page.name, "tiny") == 0 && std::strcmp(phase, "convert") == 0 ? "; goal <= 250" : "");
    }
}

} // namespace

int main(int argc, char** argv)
{
    tuneAllocatorForLargeBuffers(); // as the application does
    if (argc == 4 && std::strcmp(argv[1], "--phase") == 0) {
        const Page* page = findPage(argv[3]);
        return page ? runPhase(argv[2], *page) : 2;
    }

    QCoreApplication app(argc, argv);
    registerTimings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CapturingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const Page& page : kPages)
        printTimes(page, reporter);
    std::printf("\nmemory:\n");
    for (const Page& page : kPages)
        printMemory(argv[0], page);
    return 0;
}

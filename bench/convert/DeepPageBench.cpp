// Pages whose one message nests 100,000 levels deep (divs, lists, quotes): the time and the
// peak memory of gumbo's parse of the page as it is, of the DOM parse and of the whole
// conversion. Each phase runs once in a fresh child process with a time limit, so a phase
// that does not end is reported as such and one phase's peak does not hide another's.
//
//   deep_page_bench [depth [seconds]]          every shape and phase (default 100000, 120 s)
//   deep_page_bench --phase PHASE SHAPE DEPTH  (internal) one phase once, prints its figures

#include "ConversionRun.h"
#include "ProcessStatus.h"

#include "convert/HtmlDocument.h"
#include "core/MemoryTuning.h"

#include <gumbo.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Shape {
    const char* name;
    const char* open;
    const char* close;
};

constexpr Shape kShapes[] = {
    {"divs", "<div>", "</div>"},
    {"lists", "<ul><li>", "</li></ul>"},
    {"quotes", "<blockquote>", "</blockquote>"},
};

const Shape* findShape(const char* name)
{
    for (const Shape& shape : kShapes) {
        if (std::strcmp(shape.name, name) == 0)
            return &shape;
    }
    return nullptr;
}

QByteArray deepPage(const Shape& shape, int depth)
{
    QByteArray page = "<html><head><title>Deep - Poe</title></head><body>"
                      "<div class=\"ChatMessage_chatMessage__1\" data-message-id=\"1\">"
                      "<div class=\"Message_messageBubble__b\">";
    const QByteArray open(shape.open);
    const QByteArray close(shape.close);
    page.reserve(page.size() + depth * (open.size() + close.size()) + 64);
    for (int i = 0; i < depth; ++i)
        page += open;
    page += "deep text";
    for (int i = 0; i < depth; ++i)
        page += close;
    page += "</div></div></body></html>";
    return page;
}

int runPhase(const char* phase, const Shape& shape, int depth)
{
    const QByteArray bytes = deepPage(shape, depth);
    QElapsedTimer timer;
    if (std::strcmp(phase, "gumbo") == 0) {
        timer.start();
        GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, bytes.constData(), size_t(bytes.size()));
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    } else if (std::strcmp(phase, "dom") == 0) {
        timer.start();
        auto document = HtmlDocument::parse(bytes);
        document.reset();
    } else if (std::strcmp(phase, "convert") == 0) {
        const QString page = QString::fromUtf8(bytes);
        timer.start();
        convertLikeTheExport(page, QByteArray(), 0);
    } else {
        std::fprintf(stderr, "unknown phase %s\n", phase);
        return 2;
    }
    const qint64 ms = timer.elapsed();
    std::printf("page_bytes=%lld ms=%lld peak_kb=%lld\n", static_cast<long long>(bytes.size()),
        static_cast<long long>(ms), static_cast<long long>(processStatusKb("VmHWM")));
    return 0;
}

void measure(const char* exe, const char* phase, const Shape& shape, int depth, int seconds)
{
    QProcess child;
    child.start(QString::fromLocal8Bit(exe), {QStringLiteral("--phase"), QString::fromLatin1(phase),
                                                 QString::fromLatin1(shape.name), QString::number(depth)});
    if (!child.waitForFinished(seconds * 1000)) {
        child.kill();
        child.waitForFinished(-1);
        std::printf("%-7s %-8s no result within %d s\n", shape.name, phase, seconds);
        return;
    }
    qint64 pageBytes = 0;
    qint64 ms = -1;
    qint64 peakKb = -1;
    for (const QByteArray& field : child.readAllStandardOutput().trimmed().split(' ')) {
        const QList<QByteArray> kv = field.split('=');
        if (kv.size() != 2)
            continue;
        if (kv[0] == "page_bytes")
            pageBytes = kv[1].toLongLong();
        else if (kv[0] == "ms")
            ms = kv[1].toLongLong();
        else if (kv[0] == "peak_kb")
            peakKb = kv[1].toLongLong();
    }
    if (ms < 0) {
        std::printf("%-7s %-8s failed (exit %d)\n", shape.name, phase, child.exitCode());
        return;
    }
    std::printf("%-7s %-8s %9.2f s  peak %7.1f MB  (page %.2f MB)\n", shape.name, phase, double(ms) / 1000.0,
        double(peakKb) / 1024.0, double(pageBytes) / (1024.0 * 1024.0));
}

} // namespace

int main(int argc, char** argv)
{
    tuneAllocatorForLargeBuffers(); // as the application does
    if (argc == 5 && std::strcmp(argv[1], "--phase") == 0) {
        const Shape* shape = findShape(argv[3]);
        return shape ? runPhase(argv[2], *shape, std::atoi(argv[4])) : 2;
    }
    QCoreApplication app(argc, argv);
    const int depth = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
    std::printf("nesting depth %d, time limit %d s per phase\n", depth, seconds);
    for (const Shape& shape : kShapes) {
        for (const char* phase : {"gumbo", "dom", "convert"})
            measure(argv[0], phase, shape, depth, seconds);
    }
    return 0;
}

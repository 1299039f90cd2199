// The cost of one activity-log line as the calling thread builds it (the local time stamp and
// the text), from 1, 2, 4 and 8 threads at once, next to the floor measured in the same run:
// the same line built around a fixed stamp. Figures are nanoseconds of wall time per line on
// each thread (so contention shows as a longer time), the median of five rounds.
//
//   log_line_bench [lines per thread]

#include "core/ActivityLog.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

// A line the server thread writes for each download.
const QString kMessage = QStringLiteral("[SERVER] CMD: save_file (RID: 3F2504E0-4F89-11D3-9A0C-0305E82C3301)");

// The floor: the same line around a stamp that is already text.
QString fixedLine(const QString& message)
{
    static const QString stamp = QStringLiteral("2025-03-05 14:07:09");
    QString line;
    line.reserve(stamp.size() + message.size() + 4);
    line += QLatin1Char('[');
    line += stamp;
    line += QLatin1String("] ");
    line += message;
    if (!message.endsWith(QLatin1Char('\n'))) {
        line += QLatin1Char('\n');
    }
    return line;
}

// Wall time per line on each of `threads` threads writing `lines` lines each.
double nanosecondsPerLine(int threads, int lines, const std::function<QString(const QString&)>& build)
{
    std::atomic<int> ready {0};
    std::atomic<bool> go {false};
    std::atomic<qsizetype> sink {0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            ready.fetch_add(1);
            while (!go.load()) {
                std::this_thread::yield();
            }
            qsizetype total = 0;
            for (int i = 0; i < lines; ++i) {
                total += build(kMessage).size();
            }
            sink.fetch_add(total);
        });
    }
    while (ready.load() < threads) {
        std::this_thread::yield();
    }
    const auto start = std::chrono::steady_clock::now();
    go.store(true);
    for (std::thread& worker : workers) {
        worker.join();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (sink.load() == 0) {
        std::abort();
    }
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / lines;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 200000;
    const ActivityLog& log = ActivityLog::shared();
    const auto stamped = [&log](const QString& message) { return log.stampedLine(message); };

    std::printf("activity-log line, %d lines per thread, ns of wall time per line on each thread\n", lines);
    std::printf("%8s %12s %12s %8s\n", "threads", "fixed stamp", "local time", "ratio");
    for (const int threads : {1, 2, 4, 8}) {
        std::vector<double> floor;
        std::vector<double> real;
        for (int round = 0; round < 5; ++round) {
            floor.push_back(nanosecondsPerLine(threads, lines, fixedLine));
            real.push_back(nanosecondsPerLine(threads, lines, stamped));
        }
        const double f = median(floor);
        const double r = median(real);
        std::printf("%8d %12.1f %12.1f %8.2f\n", threads, f, r, r / f);
    }
    return 0;
}

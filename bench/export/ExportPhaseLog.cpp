#include "ExportPhaseLog.h"

#include "MonotonicClock.h"

namespace {

// "[yyyy-MM-dd HH:mm:ss] " before every message.
constexpr qsizetype stampLength = 22;

} // namespace

ActivityLog::Sink ExportPhaseLog::sink()
{
    return [this](const QString& line) { receive(line); };
}

void ExportPhaseLog::reset()
{
    at_.fill(0);
}

void ExportPhaseLog::receive(const QString& line)
{
    const qint64 now = monotonicNanoseconds();
    ++lines_;
    bytes_ += line.size();
    static const std::array<QString, markCount> openings {
        QStringLiteral("Capture Complete ("),
        QStringLiteral("Starting conversion for: "),
        QStringLiteral("[INFO] Scanned "),
        QStringLiteral("[INFO] Generated Markdown in-memory for: "),
        QStringLiteral("✅ Export Processed: "),
    };
    const QStringView message = QStringView(line).mid(qMin(stampLength, line.size()));
    for (int mark = 0; mark < markCount; ++mark) {
        if (at_[mark] == 0 && message.startsWith(openings[mark])) {
            at_[mark] = now;
        }
    }
}

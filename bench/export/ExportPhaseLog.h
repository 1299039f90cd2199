#pragma once

#include "core/ActivityLog.h"

#include <QtGlobal>

#include <array>

// The activity log's receiver in the export benchmark: it keeps count of the lines, as the
// log window keeps them, and notes when the lines that close each phase of an export arrive.
// The lines reach it on the main thread, queued behind the main thread's other work, so a
// moment is when the line arrived, a little after it was written.
class ExportPhaseLog {
public:
    enum Mark {
        captureComplete,   // "Capture Complete (N bytes). Processing...": the page is whole
        conversionStarted, // "Starting conversion for: ": decoded, parsed, the DOM built
        scanned,           // "[INFO] Scanned N assets to download": the dry run is over
        generated,         // "[INFO] Generated Markdown in-memory for: ": every download is in
        processed,         // "✅ Export Processed: ": note and attachments are written
        markCount
    };

    ActivityLog::Sink sink();
    // Forgets the moments noted so far (before an export).
    void reset();
    // When the mark's line arrived (monotonic nanoseconds); 0 when it has not.
    qint64 at(Mark mark) const { return at_[mark]; }
    qint64 lines() const { return lines_; }
    qint64 bytes() const { return bytes_; }

private:
    void receive(const QString& line);

    std::array<qint64, markCount> at_ {};
    qint64 lines_ = 0;
    qint64 bytes_ = 0;
};

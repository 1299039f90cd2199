#pragma once

#include "link/IpcMessage.h"

#include <QSet>
#include <QString>

#include <optional>

class ExportResults;
class ExportRuntime;
class ExportSessionState;
class RequestExchange;
class SessionWatchdog;

// Drives the chat's tab to the start of the conversation, one step per pass, puts it back
// where the user had it, expands collapsed code blocks and asks for the capture. Runs on a
// pool thread; every request waits for its reply with the standard time-out.
class ScrollOrchestrator {
public:
    ScrollOrchestrator(ExportRuntime& runtime, ExportSessionState& state, RequestExchange& exchange,
        ExportResults& results, SessionWatchdog& watchdog);

    void orchestrateScrollToTop();
    void expandCollapsedCodeBlocks(std::optional<qint64> tabId, std::optional<qint64> windowId);

    // The scroll step for a client height and a count of passes without a height change.
    static qint64 scrollStep(qint64 clientHeight, qint64 stallCount);

private:
    // Where the page was when the export began, from the first metrics reply.
    struct StartPosition {
        double scrollTop = 0.0;
        qint64 windowX = 0;
        qint64 windowY = 0;
        qint64 scrollHeight = 0;
        qint64 clientHeight = 0;
        bool acceptsNegative = false;
    };
    // The state of one run (several may overlap briefly when an export replaces another).
    struct ScrollRun {
        std::optional<QString> sessionId;
        std::optional<qint64> tabId;
        std::optional<qint64> windowId;
        StartPosition start;
        qint64 pass = 0;
        qint64 stallCount = 0;
        qint64 lastHeight = 0;
        double position = 0.0;
        QSet<QString> warnedMetrics;   // metrics already reported as no number
    };
    enum class Pass { goOn, topReached, ended };

    // False when the page is not a chat; the run is then over.
    bool validatePage(const ScrollRun& run);
    // Metrics: reads and stores the start position; false when there is none (run over).
    bool takeStartMetrics(ScrollRun& run);
    // The checks at the top of each pass: time-out resets, abort, a vanished extension, a
    // changed session.
    Pass checkPass(ScrollRun& run);
    // Marker: whether the start of the chat is on screen.
    bool startMarkerVisible();
    // Step: one scroll toward the top; ends the run when an abort arrives meanwhile.
    Pass stepTowardTop(ScrollRun& run);
    // Stall: counts the passes in which the page's height did not change.
    static void trackStall(ScrollRun& run, std::optional<qint64> height);
    // Restore: puts the page back where the user had it.
    void restorePosition(const ScrollRun& run);
    // The top is reached: restore, expand code blocks and ask for the capture.
    void finishAtTop(const ScrollRun& run);

    void sendScrollProgress(const ScrollRun& run);
    // Ends the run as given up: the extension is told why and the session is dropped.
    void giveUp(const ScrollRun& run, const QString& reason);
    void endAborted();
    // Drops the session when it is still the run's own.
    void dropSession(const ScrollRun& run);

    ExportRuntime& runtime_;
    ExportSessionState& state_;
    RequestExchange& exchange_;
    ExportResults& results_;
    SessionWatchdog& watchdog_;
};

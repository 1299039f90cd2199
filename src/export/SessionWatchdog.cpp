#include "export/SessionWatchdog.h"

#include "core/ActivityLog.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "link/ChunkAssembler.h"

#include <QTimer>

namespace {

constexpr ExportSession::Status kCapturing = ExportSession::Status::capturing;
constexpr ExportSession::Status kDownloading = ExportSession::Status::downloading;

} // namespace

SessionWatchdog::SessionWatchdog(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results,
    ChunkAssembler& chunks)
    : runtime_(runtime)
    , state_(state)
    , results_(results)
    , chunks_(chunks)
{
    timer_ = new QTimer(runtime_.mainContext());
    timer_->setInterval(runtime_.timings().sessionCheckInterval);
    QObject::connect(timer_, &QTimer::timeout, runtime_.mainContext(), [this] { check(); });
    dropObserverToken_ = chunks_.addDropObserver([this](const QStringList& requestIds) { payloadsDropped(requestIds); });
}

SessionWatchdog::~SessionWatchdog()
{
    chunks_.removeDropObserver(dropObserverToken_);
    delete timer_;
}

QString SessionWatchdog::seconds(std::chrono::milliseconds duration)
{
    return QString::number(std::chrono::duration_cast<std::chrono::seconds>(duration).count());
}

void SessionWatchdog::watch()
{
    if (!timer_->isActive()) {
        timer_->start();
    }
}

void SessionWatchdog::captureRequested()
{
    if (!state_.currentExport()) {
        return;
    }
    captureSession_ = state_.currentExport()->sessionId;
    captureSince_ = Clock::now();
    {
        std::lock_guard lock(pageLock_);
        pageRequestId_.reset();
    }
    watch();
}

void SessionWatchdog::processingStarted()
{
    if (!state_.currentExport()) {
        return;
    }
    processingSession_ = state_.currentExport()->sessionId;
    processingSince_ = Clock::now();
    watch();
}

void SessionWatchdog::notePageChunk(const QString& requestId)
{
    std::lock_guard lock(pageLock_);
    pageRequestId_ = requestId;
}

bool SessionWatchdog::sessionIs(ExportSession::Status status, const std::optional<QString>& noted) const
{
    const std::optional<ExportSession>& session = state_.currentExport();
    return session && session->status == status && noted && *noted == session->sessionId;
}

void SessionWatchdog::check()
{
    const std::optional<ExportSession>& session = state_.currentExport();
    if (!session) {
        timer_->stop();
        return;
    }
    const ExportTimings& timings = runtime_.timings();
    const Clock::time_point now = Clock::now();
    if (sessionIs(kCapturing, captureSession_)) {
        std::optional<QString> page;
        {
            std::lock_guard lock(pageLock_);
            page = pageRequestId_;
        }
        std::optional<QString> reason;
        if (state_.extensionAbsentFor(timings.disconnectGrace)) {
            reason = QStringLiteral("Capture stopped: no extension connected for ") + seconds(timings.disconnectGrace)
                + QStringLiteral("s.");
        } else if (!page && now - captureSince_ > timings.captureStartLimit) {
            reason = QStringLiteral("Capture not started: no page data for ") + seconds(timings.captureStartLimit)
                + QStringLiteral("s.");
        }
        if (reason) {
            if (page) {
                chunks_.clear(*page);
            }
            fail(*reason, session->sessionId, page ? page : session->replyRequestId);
        }
        return;
    }
    if (sessionIs(kDownloading, processingSession_) && now - processingSince_ > timings.processingLimit) {
        // The run goes on where it is stuck; whatever it reports later is stale.
        fail(QStringLiteral("Processing did not finish within ") + seconds(timings.processingLimit) + QStringLiteral("s."),
            session->sessionId, session->replyRequestId);
    }
}

void SessionWatchdog::captureIncomplete(const QString& requestId, PageHandler processPage)
{
    runtime_.postMain([this, requestId, processPage = std::move(processPage)] {
        // Only a session waiting for its page owns the announcement.
        std::optional<QString> sessionId;
        if (state_.currentExport() && state_.currentExport()->status == kCapturing) {
            sessionId = state_.currentExport()->sessionId;
        }
        QTimer::singleShot(runtime_.timings().captureGrace, runtime_.mainContext(),
            [this, requestId, processPage, sessionId] { graceOver(requestId, processPage, sessionId); });
    });
}

void SessionWatchdog::graceOver(const QString& requestId, const PageHandler& processPage,
    const std::optional<QString>& sessionId)
{
    if (const std::optional<QByteArray> data = chunks_.getData(requestId)) {
        processPage(*data);
        return;
    }
    // On an ordered connection the missing chunks are not coming any more.
    chunks_.clear(requestId);
    if (!state_.isCurrentOutcome(sessionId, QStringLiteral("incomplete capture"))) {
        return;
    }
    const bool stillWaiting = sessionId && sessionIs(kCapturing, sessionId);
    fail(QStringLiteral("Capture incomplete: chunks of the page are missing."), stillWaiting ? sessionId : std::nullopt,
        requestId);
}

void SessionWatchdog::payloadsDropped(const QStringList& requestIds)
{
    runtime_.postMain([this, requestIds] {
        if (!sessionIs(kCapturing, captureSession_)) {
            return;
        }
        std::optional<QString> page;
        {
            std::lock_guard lock(pageLock_);
            page = pageRequestId_;
        }
        if (!page || !requestIds.contains(*page)) {
            return;
        }
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(chunks_.idleLimit());
        fail(QStringLiteral("Capture incomplete: no page data for ") + seconds(idle) + QStringLiteral("s."),
            state_.currentExport()->sessionId, page);
    });
}

void SessionWatchdog::fail(const QString& reason, const std::optional<QString>& sessionId,
    const std::optional<QString>& replyTo)
{
    const std::optional<ExportSession>& session = state_.currentExport();
    const bool own = sessionId && session && session->sessionId == *sessionId;
    if (!own) {
        // A page handed over outside any export session: only its message learns why.
        if (replyTo) {
            results_.sendErrorResult(*replyTo, reason, false, std::nullopt);
        }
        return;
    }
    QString title = QStringLiteral("Current Chat");
    if (session->chatTitle && !session->chatTitle->isEmpty()) {
        title = *session->chatTitle;
    }
    const qint64 tabId = session->tabId;
    const qint64 windowId = session->windowId;

    appendLog(QStringLiteral("❌ Export failed: ") + reason);
    // No note name is known yet: the entry is under the chat's title.
    results_.addFailedHistoryItem(title, title, reason);
    results_.scheduleErrorNotification(title, QStringLiteral("Export failed: ") + reason, tabId, windowId);
    if (replyTo) {
        results_.sendErrorResult(*replyTo, reason, true, std::nullopt);
    }
    state_.endSession();
    results_.showReadyWhenIdle();
}

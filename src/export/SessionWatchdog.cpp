#include "export/SessionWatchdog.h"

#include "core/ActivityLog.h"
#include "export/CapturedPageProcessor.h"
#include "export/ExportController.h"
#include "export/ExportResults.h"
#include "link/ChunkAssembler.h"

#include <QTimer>

namespace {

const QString kCapturing = QStringLiteral("capturing");
const QString kDownloading = QStringLiteral("downloading");

} // namespace

SessionWatchdog::SessionWatchdog(ExportController& controller)
    : controller_(controller)
{
    timer_ = new QTimer(&controller_);
    timer_->setInterval(controller_.timings_.sessionCheckInterval);
    QObject::connect(timer_, &QTimer::timeout, &controller_, [this] { check(); });
}

SessionWatchdog::~SessionWatchdog() = default;

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
    if (!controller_.currentExport_) {
        return;
    }
    captureSession_ = controller_.currentExport_->sessionId;
    captureSince_ = Clock::now();
    {
        std::lock_guard lock(pageLock_);
        pageRequestId_.reset();
    }
    watch();
}

void SessionWatchdog::processingStarted()
{
    if (!controller_.currentExport_) {
        return;
    }
    processingSession_ = controller_.currentExport_->sessionId;
    processingSince_ = Clock::now();
    watch();
}

void SessionWatchdog::notePageChunk(const QString& requestId)
{
    std::lock_guard lock(pageLock_);
    pageRequestId_ = requestId;
}

bool SessionWatchdog::sessionIs(const QString& status, const std::optional<QString>& noted) const
{
    const std::optional<ExportSession>& session = controller_.currentExport_;
    return session && session->status == status && noted && *noted == session->sessionId;
}

void SessionWatchdog::check()
{
    const std::optional<ExportSession>& session = controller_.currentExport_;
    if (!session) {
        timer_->stop();
        return;
    }
    const ExportTimings& timings = controller_.timings_;
    const Clock::time_point now = Clock::now();
    if (sessionIs(kCapturing, captureSession_)) {
        std::optional<QString> page;
        {
            std::lock_guard lock(pageLock_);
            page = pageRequestId_;
        }
        std::optional<QString> reason;
        if (controller_.extensionAbsentFor(timings.disconnectGrace)) {
            reason = QStringLiteral("Capture stopped: no extension connected for ") + seconds(timings.disconnectGrace)
                + QStringLiteral("s.");
        } else if (!page && now - captureSince_ > timings.captureStartLimit) {
            reason = QStringLiteral("Capture not started: no page data for ") + seconds(timings.captureStartLimit)
                + QStringLiteral("s.");
        }
        if (reason) {
            if (page) {
                ChunkAssembler::shared().clear(*page);
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

void SessionWatchdog::captureIncomplete(const QString& requestId, const QString& completeLine)
{
    controller_.postMain([this, requestId, completeLine] {
        // Only a session waiting for its page owns the announcement.
        std::optional<QString> sessionId;
        if (controller_.currentExport_ && controller_.currentExport_->status == kCapturing) {
            sessionId = controller_.currentExport_->sessionId;
        }
        QTimer::singleShot(controller_.timings_.captureGrace, &controller_,
            [this, requestId, completeLine, sessionId] { graceOver(requestId, completeLine, sessionId); });
    });
}

void SessionWatchdog::graceOver(const QString& requestId, const QString& completeLine,
    const std::optional<QString>& sessionId)
{
    if (const std::optional<QByteArray> data = ChunkAssembler::shared().getData(requestId)) {
        appendLog(completeLine.arg(data->size()));
        controller_.processor_->processHTML(*data, requestId, std::nullopt, requestId);
        return;
    }
    // On an ordered connection the missing chunks are not coming any more.
    ChunkAssembler::shared().clear(requestId);
    if (!controller_.isCurrentOutcome(sessionId, QStringLiteral("incomplete capture"))) {
        return;
    }
    const bool stillWaiting = sessionId && sessionIs(kCapturing, sessionId);
    fail(QStringLiteral("Capture incomplete: chunks of the page are missing."), stillWaiting ? sessionId : std::nullopt,
        requestId);
}

void SessionWatchdog::payloadsDropped(const QStringList& requestIds)
{
    controller_.postMain([this, requestIds] {
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
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(ChunkAssembler::shared().idleLimit());
        fail(QStringLiteral("Capture incomplete: no page data for ") + seconds(idle) + QStringLiteral("s."),
            controller_.currentExport_->sessionId, page);
    });
}

void SessionWatchdog::fail(const QString& reason, const std::optional<QString>& sessionId,
    const std::optional<QString>& replyTo)
{
    std::optional<ExportSession>& session = controller_.currentExport_;
    const bool own = sessionId && session && session->sessionId == *sessionId;
    if (!own) {
        // A page handed over outside any export session: only its message learns why.
        if (replyTo) {
            controller_.results_->sendErrorResult(*replyTo, reason, false, std::nullopt);
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
    controller_.results_->addFailedHistoryItem(title, title, reason);
    controller_.results_->scheduleErrorNotification(title, QStringLiteral("Export failed: ") + reason, tabId, windowId);
    if (replyTo) {
        controller_.results_->sendErrorResult(*replyTo, reason, true, std::nullopt);
    }
    session.reset();
    controller_.showReadyWhenIdle();
}

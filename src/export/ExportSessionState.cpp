#include "export/ExportSessionState.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/UuidText.h"

#include <QTimer>

namespace {

// A copy of `value`, read with `mutex` held.
template <typename Value>
Value readLocked(std::mutex& mutex, const Value& value)
{
    std::lock_guard lock(mutex);
    return value;
}

} // namespace

ExportSessionState::ExportSessionState()
    : disconnectedSince_(std::chrono::steady_clock::now().time_since_epoch().count())
{
}

ExportSessionState::~ExportSessionState() = default;

// ---------------------------------------------------------------------------------------------
// The running export

void ExportSessionState::startSession(qint64 tabId, qint64 windowId, const QString& replyRequestId)
{
    ExportSession session;
    session.sessionId = UuidText::fresh();
    session.tabId = tabId;
    session.windowId = windowId;
    session.replyRequestId = replyRequestId;
    currentExport_ = session;
    lastExportTabId_ = tabId;
    lastExportWindowId_ = windowId;
}

void ExportSessionState::endSession()
{
    currentExport_.reset();
}

void ExportSessionState::endSessionOf(const std::optional<QString>& sessionId)
{
    if (isSameSession(sessionId)) {
        currentExport_.reset();
    }
}

void ExportSessionState::setStatus(ExportSession::Status status)
{
    if (currentExport_) {
        currentExport_->status = status;
    }
}

void ExportSessionState::beginScrolling(const std::optional<QString>& sessionId, double scrollTop, qint64 windowX,
    qint64 windowY)
{
    if (currentExport_ && isSameSession(sessionId)) {
        currentExport_->startScrollTop = scrollTop;
        currentExport_->startWindowScrollX = windowX;
        currentExport_->startWindowScrollY = windowY;
        currentExport_->status = ExportSession::Status::scrolling;
    }
}

std::optional<QString> ExportSessionState::beginProcessing(const std::optional<QString>& completionRequestId)
{
    if (!currentExport_) {
        return std::nullopt;
    }
    currentExport_->status = ExportSession::Status::downloading;
    if (completionRequestId) {
        currentExport_->replyRequestId = completionRequestId;
    }
    return currentExport_->sessionId;
}

void ExportSessionState::setChatTitle(const std::optional<QString>& sessionId, const QString& title)
{
    if (currentExport_ && sessionId == currentExport_->sessionId) {
        currentExport_->chatTitle = title;
    }
}

bool ExportSessionState::isSameSession(const std::optional<QString>& sessionId) const
{
    if (!sessionId) {
        return !currentExport_;
    }
    return currentExport_ && currentExport_->sessionId == *sessionId;
}

bool ExportSessionState::isCurrentOutcome(const std::optional<QString>& sessionId, const QString& what) const
{
    if (!sessionId || (currentExport_ && currentExport_->sessionId == *sessionId)) {
        return true;
    }
    appendLog(QStringLiteral("[INFO] Ignoring stale ") + what + QStringLiteral(" of session ") + *sessionId
        + (currentExport_ ? QStringLiteral(", current session is ") + currentExport_->sessionId
                          : QStringLiteral(", no export is running")));
    return false;
}

// ---------------------------------------------------------------------------------------------
// The last export, the extension and the chat page

void ExportSessionState::setLastExport(std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    lastExportTabId_ = tabId;
    lastExportWindowId_ = windowId;
}

const QString& ExportSessionState::newPendingExport()
{
    pendingExportId_ = UuidText::fresh();
    return *pendingExportId_;
}

void ExportSessionState::setConnectedExtensionVersion(const std::optional<QString>& version)
{
    connectedExtensionVersion_ = version;
}

void ExportSessionState::setLastActiveTabURL(const QString& url)
{
    lastActiveTabURL_ = url;
}

void ExportSessionState::stopDisconnectTimer()
{
    if (disconnectTimer_ != nullptr) {
        disconnectTimer_->stop();
    }
}

// ---------------------------------------------------------------------------------------------
// The scroll loop's flags

void ExportSessionState::setExportAborted(bool aborted)
{
    std::lock_guard lock(abortLock_);
    isExportAborted_ = aborted;
}

bool ExportSessionState::isExportAborted() const
{
    return readLocked(abortLock_, isExportAborted_);
}

void ExportSessionState::updateTabStatus(bool background)
{
    std::lock_guard lock(timeoutLock_);
    isTabBackgrounded_ = background;
    if (!background) {
        timeoutResetRequested_ = true;
    }
}

void ExportSessionState::clearTabBackgrounded()
{
    std::lock_guard lock(timeoutLock_);
    isTabBackgrounded_ = false;
}

ExportSessionState::PassLimit ExportSessionState::takePassLimit()
{
    std::lock_guard lock(timeoutLock_);
    const PassLimit limit {timeoutResetRequested_, isTabBackgrounded_};
    timeoutResetRequested_ = false;
    return limit;
}

void ExportSessionState::requestTimeoutReset()
{
    std::lock_guard lock(timeoutLock_);
    timeoutResetRequested_ = true;
}

bool ExportSessionState::isTabBackgrounded() const
{
    return readLocked(timeoutLock_, isTabBackgrounded_);
}

bool ExportSessionState::isTimeoutResetRequested() const
{
    return readLocked(timeoutLock_, timeoutResetRequested_);
}

ExportSessionState::ScrollHandler ExportSessionState::takeScrollCompletionHandler(const QString& requestId)
{
    std::lock_guard lock(scrollLock_);
    return scrollCompletionHandlers_.take(requestId);
}

// ---------------------------------------------------------------------------------------------
// The conversions

std::shared_ptr<MarkdownConverter> ExportSessionState::activeConverter() const
{
    return readLocked(converterLock_, activeConverter_);
}

void ExportSessionState::startConversion(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    activeConverter_ = converter;
    conversions_.append(converter);
}

void ExportSessionState::clearActiveConverter(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    if (activeConverter_ == converter) {
        activeConverter_.reset();
    }
}

void ExportSessionState::removeConversion(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    conversions_.removeOne(converter);
}

QList<std::shared_ptr<MarkdownConverter>> ExportSessionState::conversions() const
{
    return readLocked(converterLock_, conversions_);
}

// ---------------------------------------------------------------------------------------------
// The extension's connection

void ExportSessionState::noteConnected()
{
    clientConnected_.store(true);
}

void ExportSessionState::noteDisconnected()
{
    disconnectedSince_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    clientConnected_.store(false);
}

bool ExportSessionState::extensionAbsentFor(std::chrono::milliseconds grace) const
{
    if (clientConnected_.load()) {
        return false;
    }
    const auto since = std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(disconnectedSince_.load()));
    return std::chrono::steady_clock::now() - since >= grace;
}

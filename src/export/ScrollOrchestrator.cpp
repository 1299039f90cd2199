#include "export/ScrollOrchestrator.h"

#include "core/ActivityLog.h"
#include "core/UuidText.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "export/ExportText.h"
#include "export/RequestExchange.h"
#include "export/SessionWatchdog.h"
#include "link/WebSocketServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace {

const QString kStartOfChatSelector = QStringLiteral(
    R"([class*="BotInfoCard_sectionContainer"], [class*="ChatInviteCard_inviteCard"])");
const QString kCollapsedCodeSelector = QStringLiteral(
    R"([class*="MarkdownCodeBlock_collapsible__"][data-collapsed="true"])");
const QString kTimeoutMessage = QStringLiteral("Timeout: Start of chat not reached within limit.");
const QString kMetricsMissing = QStringLiteral("Could not read the chat's scroll position.");

std::optional<QString> resultValue(const std::optional<IPCMessage>& reply, const char* key)
{
    if (!reply || !reply->result) {
        return std::nullopt;
    }
    const auto it = reply->result->constFind(QString::fromLatin1(key));
    if (it == reply->result->constEnd()) {
        return std::nullopt;
    }
    return *it;
}

// Base-10 integers with an optional sign; anything else reads as nothing.
std::optional<qint64> parseInteger(const std::optional<QString>& text)
{
    if (!text) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text->toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// A metric of a "scrollGetMetrics" reply: a decimal number, a fraction included (a browser at a
// fractional display scale reports offsets such as "119.7080307006836"). A value that is no
// usable number is reported once per run and read as absent.
std::optional<double> metricValue(const std::optional<IPCMessage>& reply, const char* key, QSet<QString>& warned)
{
    const std::optional<QString> text = resultValue(reply, key);
    if (!text) {
        return std::nullopt;
    }
    // Beyond 2^53 a double no longer holds every integer; no page scrolls that far.
    constexpr double largest = 9007199254740992.0;
    bool ok = false;
    const double value = text->toDouble(&ok);
    if (ok && std::isfinite(value) && std::abs(value) <= largest) {
        return value;
    }
    const QString name = QString::fromLatin1(key);
    if (!warned.contains(name)) {
        warned.insert(name);
        appendLog(QStringLiteral("[WARN] Scroll metric ") + name + QStringLiteral(" is no usable number: \"") + *text
            + QStringLiteral("\""));
    }
    return std::nullopt;
}

// Offsets and heights in whole pixels, rounded to the nearest.
std::optional<qint64> roundedMetric(const std::optional<IPCMessage>& reply, const char* key, QSet<QString>& warned)
{
    const std::optional<double> value = metricValue(reply, key, warned);
    return value ? std::optional<qint64>(std::llround(*value)) : std::nullopt;
}

// A real number as the log lines show it: shortest form, always with a fractional part.
QString realText(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('n'))) {
        text += QStringLiteral(".0");
    }
    return text;
}

QString resultJson(const std::optional<IPCMessage>& reply)
{
    if (!reply || !reply->result) {
        return QStringLiteral("none");
    }
    QVariantMap map;
    for (auto it = reply->result->cbegin(); it != reply->result->cend(); ++it) {
        map.insert(it.key(), it.value());
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Compact));
}

} // namespace

ScrollOrchestrator::ScrollOrchestrator(ExportRuntime& runtime, ExportSessionState& state, RequestExchange& exchange,
    ExportResults& results, SessionWatchdog& watchdog)
    : runtime_(runtime)
    , state_(state)
    , exchange_(exchange)
    , results_(results)
    , watchdog_(watchdog)
{
}

qint64 ScrollOrchestrator::scrollStep(qint64 clientHeight, qint64 stallCount)
{
    const qint64 base = std::max<qint64>(static_cast<qint64>(static_cast<double>(clientHeight) * 0.35), 300);
    qint64 multiplier = 1;
    if (stallCount >= 11) {
        multiplier = 10;
    } else if (stallCount >= 3) {
        multiplier = stallCount - 1;
    }
    return base * multiplier;
}

void ScrollOrchestrator::orchestrateScrollToTop()
{
    state_.setExportAborted(false);
    appendLog(QStringLiteral("Starting scroll-to-top orchestration (App driven)..."));

    ScrollRun run;
    QString pendingId;
    runtime_.runMainSync([&] {
        if (const std::optional<ExportSession>& session = state_.currentExport()) {
            run.sessionId = session->sessionId;
            run.tabId = session->tabId;
            run.windowId = session->windowId;
        }
        pendingId = state_.pendingExportId().value_or(QString());
    });

    exchange_.request(QStringLiteral("startKeepAlive"));
    if (!validatePage(run)) {
        return;
    }
    appendLog(QStringLiteral("Export triggered: ") + pendingId);
    if (!takeStartMetrics(run)) {
        return;
    }

    for (;;) {
        if (const Pass checked = checkPass(run); checked != Pass::goOn) {
            return;
        }
        if (startMarkerVisible()) {
            break;
        }
        if (stepTowardTop(run) != Pass::goOn) {
            return;
        }
        runtime_.pause(runtime_.timings().passSleep);
        ++run.pass;
        if (run.pass > runtime_.timings().passLimit - 1) {
            appendLog(kTimeoutMessage);
            // What was loaded so far is not the whole chat: put the page back and give up
            // rather than store a partial note as if it were complete.
            restorePosition(run);
            giveUp(run, kTimeoutMessage);
            return;
        }
    }
    finishAtTop(run);
}

bool ScrollOrchestrator::validatePage(const ScrollRun& run)
{
    const std::optional<IPCMessage> validation = exchange_.request(QStringLiteral("validatePage"));
    if (resultValue(validation, "ok") != QStringLiteral("false")) {
        return true;
    }
    const QString reason = resultValue(validation, "message").value_or(
        QStringLiteral("This page doesn't appear to be a Poe chat"));
    appendLog(QStringLiteral("❌ Validation Failed: ") + reason);
    runtime_.postMain([this, sessionId = run.sessionId] {
        if (state_.isSameSession(sessionId)) {
            state_.setStatus(ExportSession::Status::error);
        }
    });
    IPCArgs showArgs;
    showArgs.message = reason;
    exchange_.request(QStringLiteral("showError"), showArgs);
    exchange_.request(QStringLiteral("stopKeepAlive"));
    // Sent before the disconnect, which the server queues after it.
    runtime_.runMainSync([&] { results_.sendAbortWithMetrics(reason, run.tabId, run.windowId, std::nullopt); });
    if (WebSocketServer* server = runtime_.webSocketServer()) {
        server->disconnectAllClients();
    }
    runtime_.updateStatus(QStringLiteral("Ready"));
    return false;
}

bool ScrollOrchestrator::takeStartMetrics(ScrollRun& run)
{
    const std::optional<IPCMessage> metrics = exchange_.request(QStringLiteral("scrollGetMetrics"));
    appendLog(QStringLiteral("Raw metrics: ") + resultJson(metrics));
    if (!metrics || !metrics->result || metrics->result->isEmpty()) {
        // Scrolling blind could leave the user's page anywhere; stop instead.
        appendLog(QStringLiteral("❌ ") + kMetricsMissing);
        dropSession(run); // before the abort: there is no start position to restore
        giveUp(run, kMetricsMissing);
        return false;
    }

    StartPosition& start = run.start;
    QSet<QString>& warned = run.warnedMetrics;
    start.scrollTop = metricValue(metrics, "scrollTop", warned).value_or(0.0);
    start.windowX = roundedMetric(metrics, "windowScrollX", warned).value_or(0);
    start.windowY = roundedMetric(metrics, "windowScrollY", warned).value_or(0);
    start.scrollHeight = roundedMetric(metrics, "scrollHeight", warned).value_or(0);
    start.clientHeight = roundedMetric(metrics, "clientHeight", warned).value_or(0);
    start.acceptsNegative = resultValue(metrics, "acceptsNegative") == QStringLiteral("true");
    run.lastHeight = start.scrollHeight;
    run.position = start.scrollTop;
    appendLog(QStringLiteral("Captured start pos: ") + realText(start.scrollTop) + QStringLiteral(" (H: ")
        + QString::number(start.scrollHeight) + QStringLiteral(")"));
    runtime_.runMainSync([&] { state_.beginScrolling(run.sessionId, start.scrollTop, start.windowX, start.windowY); });
    return true;
}

ScrollOrchestrator::Pass ScrollOrchestrator::checkPass(ScrollRun& run)
{
    if (runtime_.isShuttingDown()) {
        return Pass::ended;
    }
    const ExportSessionState::PassLimit limit = state_.takePassLimit();
    if (limit.resetRequested) {
        run.pass = 0;
        appendLog(QStringLiteral("Timeout grace period reset."));
    }
    if (!limit.tabBackgrounded) {
        run.pass = 0; // the limit counts only passes while the tab is in the background
    }
    if (state_.isExportAborted()) {
        endAborted();
        return Pass::ended;
    }
    const auto grace = runtime_.timings().disconnectGrace;
    if (state_.extensionAbsentFor(grace)) {
        // With no extension every request times out; in the front tab the pass limit would
        // never end the loop.
        appendLog(QStringLiteral("⚠️ No extension connected for ")
            + QString::number(std::chrono::duration_cast<std::chrono::seconds>(grace).count())
            + QStringLiteral(" s; stopping the export."));
        appendLog(QStringLiteral("Export aborted."));
        dropSession(run);
        runtime_.updateStatus(QStringLiteral("Ready"));
        return Pass::ended;
    }
    bool same = false;
    runtime_.runMainSync([&] { same = state_.isSameSession(run.sessionId); });
    if (!same) {
        appendLog(QStringLiteral("[INFO] Scroll loop exiting: export changed or cleared"));
        return Pass::ended;
    }
    return Pass::goOn;
}

bool ScrollOrchestrator::startMarkerVisible()
{
    IPCArgs query;
    query.selector = kStartOfChatSelector;
    const std::optional<IPCMessage> found = exchange_.request(QStringLiteral("domQuery"), query);
    if (parseInteger(resultValue(found, "count")).value_or(0) > 0) {
        appendLog(QStringLiteral("Found Start of Chat marker."));
        return true;
    }
    return false;
}

ScrollOrchestrator::Pass ScrollOrchestrator::stepTowardTop(ScrollRun& run)
{
    sendScrollProgress(run);

    // The page grows and moves as older messages load: read where it is now.
    const std::optional<IPCMessage> current = exchange_.request(QStringLiteral("scrollGetMetrics"));
    if (const std::optional<double> top = metricValue(current, "scrollTop", run.warnedMetrics)) {
        run.position = *top;
    }
    const std::optional<qint64> height = roundedMetric(current, "scrollHeight", run.warnedMetrics);

    runtime_.pause(runtime_.timings().shortSleep);
    if (state_.isExportAborted()) {
        endAborted();
        return Pass::ended;
    }

    const double step = static_cast<double>(scrollStep(run.start.clientHeight, run.stallCount));
    // Toward the top: in a reversed container the top is the most negative position.
    run.position = run.start.acceptsNegative ? run.position - step : std::max(run.position - step, 0.0);
    IPCArgs scrollArgs;
    scrollArgs.value = run.position;
    exchange_.request(QStringLiteral("scrollSet"), scrollArgs);
    trackStall(run, height);
    return Pass::goOn;
}

void ScrollOrchestrator::trackStall(ScrollRun& run, std::optional<qint64> height)
{
    if (height && *height != run.lastHeight) {
        run.stallCount = 0;
        run.lastHeight = *height;
    } else {
        ++run.stallCount;
    }
}

void ScrollOrchestrator::restorePosition(const ScrollRun& run)
{
    IPCArgs scrollArgs;
    scrollArgs.value = run.start.scrollTop;
    exchange_.request(QStringLiteral("scrollSet"), scrollArgs);
    IPCArgs windowArgs;
    windowArgs.windowX = run.start.windowX;
    windowArgs.windowY = run.start.windowY;
    exchange_.request(QStringLiteral("windowSet"), windowArgs);
}

void ScrollOrchestrator::finishAtTop(const ScrollRun& run)
{
    appendLog(QStringLiteral("Top reached. Finalizing export."));
    exchange_.request(QStringLiteral("stopKeepAlive"));
    appendLog(QStringLiteral("Restoring position..."));
    restorePosition(run);
    expandCollapsedCodeBlocks(run.tabId, run.windowId);

    bool same = false;
    runtime_.runMainSync([&] {
        same = state_.isSameSession(run.sessionId);
        if (same && state_.currentExport()) {
            state_.setStatus(ExportSession::Status::capturing);
            watchdog_.captureRequested();
        }
    });
    if (state_.isExportAborted() || !same) {
        // Stopped while the page was being put back: no capture.
        appendLog(QStringLiteral("Export aborted."));
        runtime_.updateStatus(QStringLiteral("Ready"));
        return;
    }
    IPCMessage capture = ExportText::appMessage(QStringLiteral("command"), QStringLiteral("capture_start"), UuidText::fresh());
    if (run.tabId && run.windowId) {
        IPCArgs captureArgs;
        captureArgs.session = SessionContext {*run.tabId, *run.windowId, ExportSession::wireText(ExportSession::Status::capturing)};
        capture.args = captureArgs;
    }
    runtime_.send(capture);
    appendLog(QStringLiteral("Requested capture start (App Driven)."));
}

void ScrollOrchestrator::expandCollapsedCodeBlocks(std::optional<qint64>, std::optional<qint64>)
{
    // The requests carry the session's tab and window through the request exchange.
    appendLog(QStringLiteral("Expanding collapsed code blocks..."));
    if (state_.isExportAborted()) {
        return;
    }
    IPCArgs query;
    query.selector = kCollapsedCodeSelector;
    const qint64 count = parseInteger(resultValue(exchange_.request(QStringLiteral("domQuery"), query), "count")).value_or(0);
    appendLog(QStringLiteral("Collapsed code blocks found: ") + QString::number(count));
    if (count > 0) {
        IPCArgs click;
        click.selector = kCollapsedCodeSelector + QStringLiteral(" button");
        exchange_.request(QStringLiteral("domClick"), click);
    }
}

void ScrollOrchestrator::sendScrollProgress(const ScrollRun& run)
{
    const int limit = runtime_.timings().passLimit;
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Loading history... ") + QString::number(run.pass * 100 / limit) + QStringLiteral("%");
    ui.current = run.pass;
    ui.total = limit;
    IPCArgs args;
    args.ui = ui;
    if (run.tabId && run.windowId) {
        args.session = SessionContext {*run.tabId, *run.windowId, ExportSession::wireText(ExportSession::Status::scrolling)};
    }
    for (const char* command : {"update_ui", "ui_render"}) {
        IPCMessage message = ExportText::appMessage(QStringLiteral("request"), QString::fromLatin1(command), UuidText::fresh());
        message.args = args;
        runtime_.send(message);
    }
}

void ScrollOrchestrator::giveUp(const ScrollRun& run, const QString& reason)
{
    exchange_.request(QStringLiteral("stopKeepAlive"));
    runtime_.runMainSync([&] {
        results_.sendAbortWithMetrics(reason, run.tabId, run.windowId, std::nullopt);
        if (state_.isTabBackgrounded()) {
            results_.scheduleErrorNotification(QStringLiteral("Current Chat"),
                QStringLiteral("Export failed: ") + reason, run.tabId, run.windowId);
        }
        state_.endSessionOf(run.sessionId);
    });
    runtime_.updateStatus(QStringLiteral("Ready"));
}

void ScrollOrchestrator::endAborted()
{
    exchange_.request(QStringLiteral("stopKeepAlive"));
    appendLog(QStringLiteral("Export aborted."));
    runtime_.updateStatus(QStringLiteral("Ready"));
}

void ScrollOrchestrator::dropSession(const ScrollRun& run)
{
    runtime_.runMainSync([&] { state_.endSessionOf(run.sessionId); });
}

#include "platform/Updater.h"

#include "core/VersionNumber.h"
#include "platform/AppcastFeed.h"
#include "platform/UpdaterDelegate.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {
constexpr int transferTimeoutMs = 30000;
constexpr qint64 maximumFeedBytes = 4 * 1024 * 1024;

bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    if (host == QStringLiteral("localhost")) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}
} // namespace

Updater::Updater(const QString& feedAddress, const QString& currentVersion, UpdaterDelegate* delegate, QObject* parent)
    : QObject(parent)
    , feedAddress_(feedAddress.trimmed())
    , currentVersion_(currentVersion)
    , delegate_(delegate)
{
}

UpdateCheckResult Updater::evaluate(const QByteArray& feed, const QString& currentVersion)
{
    UpdateCheckResult result;
    result.currentVersion = currentVersion;
    QString error;
    const std::optional<AppcastFeed::Release> newest = AppcastFeed::newestRelease(feed, &error);
    if (!error.isEmpty()) {
        result.kind = UpdateCheckResult::Kind::failed;
        result.error = error;
        return result;
    }
    if (!newest) {
        result.kind = UpdateCheckResult::Kind::failed;
        result.error = QStringLiteral("the feed lists no release");
        return result;
    }
    result.latestVersion = newest->version;
    if (VersionNumber::compare(newest->version, currentVersion) > 0) {
        result.kind = UpdateCheckResult::Kind::newerAvailable;
        result.releasePage = newest->page;
    } else {
        result.kind = UpdateCheckResult::Kind::upToDate;
    }
    return result;
}

void Updater::checkForUpdates(std::function<void(const UpdateCheckResult&)> done)
{
    UpdateCheckResult result;
    result.currentVersion = currentVersion_;
    auto finishNow = [this, done](UpdateCheckResult outcome) {
        QMetaObject::invokeMethod(this, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    };
    if (feedAddress_.isEmpty()) {
        result.kind = UpdateCheckResult::Kind::noFeed;
        finishNow(result);
        return;
    }
    const QUrl url(feedAddress_, QUrl::StrictMode);
    if (!url.isValid() || !(url.scheme() == QStringLiteral("https") || (url.scheme() == QStringLiteral("http") && isLoopback(url)))) {
        result.kind = UpdateCheckResult::Kind::failed;
        result.error = QStringLiteral("the feed address is not an https address");
        finishNow(result);
        return;
    }
    if (network_ == nullptr) {
        network_ = new QNetworkAccessManager(this);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    // A redirect may not leave HTTPS.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > maximumFeedBytes) {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, done] {
        reply->deleteLater();
        UpdateCheckResult outcome;
        if (reply->error() != QNetworkReply::NoError) {
            outcome.kind = UpdateCheckResult::Kind::failed;
            outcome.currentVersion = currentVersion_;
            outcome.error = reply->error() == QNetworkReply::OperationCanceledError
                ? QStringLiteral("the feed is too large")
                : reply->errorString();
        } else {
            outcome = evaluate(reply->readAll(), currentVersion_);
        }
        done(outcome);
    });
}

void Updater::willInstallUpdate()
{
    if (delegate_ != nullptr) {
        delegate_->updaterWillInstallUpdate();
    }
}

void Updater::willRelaunchApplication()
{
    if (delegate_ != nullptr) {
        delegate_->updaterWillRelaunchApplication();
    }
}

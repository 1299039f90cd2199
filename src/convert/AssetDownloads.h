#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

class HtmlNode;
class MarkdownConverter;

// The attachments of one conversion: the file name of each asset, the download requests sent
// through the owner's hook and the bytes that come back. The conversion thread names and
// requests assets; answers arrive on another thread while the conversion waits.
class AssetDownloads {
public:
    explicit AssetDownloads(MarkdownConverter& owner);

    static bool isAttachment(const HtmlNode& element);
    static QString formatBytes(qint64 bytes);

    // The Markdown for an image, video, audio or file element; counts the asset and, unless
    // dryRun, requests its download (once per address).
    QString downloadAndLinkAsset(const HtmlNode& element, const QString& assetType, bool dryRun);
    // Requests, in the order they were met, the assets named so far but not yet requested
    // (those a dry run found).
    void requestUnscheduled();
    void downloadFileAsync(const QString& url, const QString& filename);
    bool waitForDownloads(std::chrono::milliseconds timeout);
    // Counts every download still unanswered as failed (after the wait gave up on it): a late
    // answer is then ignored, so nothing is kept that the note does not link to.
    void abandonPending();
    // Answers every download still unanswered as failed with `reason`, as if the extension had
    // said so (logged, counted, the wait released): for requests that can no longer be answered.
    void failPending(const QString& reason);
    // Whether some download failed, so the note must link those assets remotely.
    bool hasFailures() const;
    // Thread-safe; an answer for an address that is not pending is logged and ignored.
    void saveDownloadedFile(const QString& url, const std::optional<QByteArray>& data,
        const std::optional<QString>& error);

    QMap<QString, QByteArray> assets() const;
    qint64 totalAssets() const;
    void setTotalAssets(qint64 count);
    qint64 processedAssets() const;

    void setClock(std::function<QDateTime()> clock);
    void setWaitDurations(std::chrono::milliseconds stall, std::chrono::milliseconds poll);

private:
    // Takes an answer for a pending address; false when the address is not pending.
    bool settle(const QString& url, const std::optional<QByteArray>& data, const std::optional<QString>& error);
    QString chooseFilename(const HtmlNode& element, const QString& url, const QString& assetType) const;
    QString reserveFilename(const QString& name);
    bool hasFailed(const QString& url) const;
    static QString remoteLink(const QString& address, const QString& assetType, const QString& text);
    void log(const QString& text) const;
    QDateTime now() const;

    MarkdownConverter& owner_;

    // Touched by the conversion thread only.
    QSet<QString> reservedFilenames_;
    QHash<QString, QString> urlToFilename_;
    QStringList assetOrder_;
    QSet<QString> scheduledUrls_;

    // progressLock: the counters and the start time of the first download.
    mutable std::mutex progressLock_;
    qint64 totalAssets_ = 0;
    qint64 processedAssets_ = 0;
    std::optional<QDateTime> downloadStartTime_;

    // pendingLock: unanswered downloads (address -> file name), the addresses whose
    // download failed and the received bytes.
    mutable std::mutex pendingLock_;
    QHash<QString, QString> pendingDownloads_;
    QSet<QString> failedUrls_;
    QMap<QString, QByteArray> assets_;

    // The dispatch group: one entry per requested download, left when it is answered.
    std::mutex groupMutex_;
    std::condition_variable groupDone_;
    qint64 groupCount_ = 0;

    std::function<QDateTime()> clock_;
    std::chrono::milliseconds stall_ { std::chrono::seconds(30) };
    std::chrono::milliseconds poll_ { std::chrono::seconds(1) };
};

#include "convert/AssetDownloads.h"

#include "convert/CssSelector.h"
#include "convert/HtmlDocument.h"
#include "convert/MarkdownConverter.h"
#include "convert/MarkdownEscaping.h"
#include "core/FileNameLimit.h"
#include "core/UuidText.h"

#include <QElapsedTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <array>

namespace {

const std::array<QLatin1StringView, 22> attachmentExtensions = {
    QLatin1StringView(".pdf"), QLatin1StringView(".zip"), QLatin1StringView(".txt"),
    QLatin1StringView(".md"), QLatin1StringView(".csv"), QLatin1StringView(".json"),
    QLatin1StringView(".py"), QLatin1StringView(".js"), QLatin1StringView(".html"),
    QLatin1StringView(".css"), QLatin1StringView(".jpg"), QLatin1StringView(".jpeg"),
    QLatin1StringView(".png"), QLatin1StringView(".gif"), QLatin1StringView(".webp"),
    QLatin1StringView(".mp4"), QLatin1StringView(".mov"), QLatin1StringView(".webm"),
    QLatin1StringView(".mp3"), QLatin1StringView(".wav"), QLatin1StringView(".m4a"),
    QLatin1StringView(".ogg"),
};

const CssSelector& fileInfoTitleSelector()
{
    static const CssSelector selector(QStringLiteral("[class*='FileInfo_title']"));
    return selector;
}

// The text after the last "." of a file name; a leading dot starts no extension.
QString pathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

// The address's last path component, ignoring a trailing slash, percent-decoded.
QString lastPathComponent(const QUrl& url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString defaultExtension(const QString& assetType)
{
    if (assetType == QLatin1String("video")) {
        return QStringLiteral("mp4");
    }
    if (assetType == QLatin1String("audio")) {
        return QStringLiteral("mp3");
    }
    if (assetType == QLatin1String("image")) {
        return QStringLiteral("jpg");
    }
    return {};
}

// Seconds as written in log lines: whole seconds without decimals ("30s").
QString secondsText(std::chrono::milliseconds duration)
{
    if (duration.count() % 1000 == 0) {
        return QString::number(duration.count() / 1000);
    }
    return QString::number(static_cast<double>(duration.count()) / 1000.0, 'f', 1);
}

} // namespace

AssetDownloads::AssetDownloads(MarkdownConverter& owner)
    : owner_(owner)
{
    // Monotonic by default: a wall-clock jump must not end or stretch the wait.
    QElapsedTimer timer;
    timer.start();
    const QDateTime base = QDateTime::currentDateTimeUtc();
    clock_ = [timer, base] { return base.addMSecs(timer.elapsed()); };
}

bool AssetDownloads::isAttachment(const HtmlNode& element)
{
    const QStringView href = element.attrView(u"href");
    if (!href.startsWith(QLatin1String("http"))) {
        return false;
    }
    if (element.attrView(u"class").contains(QLatin1String("Attachments_attachment__"))) {
        return true;
    }
    for (const QLatin1StringView extension : attachmentExtensions) {
        if (href.endsWith(extension)) {
            return true;
        }
    }
    return href.contains(QLatin1String(MarkdownConverter::assetHost));
}

QString AssetDownloads::formatBytes(qint64 bytes)
{
    if (bytes < 1024) {
        return QString::number(bytes) + QStringLiteral(" B");
    }
    const double kb = static_cast<double>(bytes) / 1024.0;
    if (kb < 1024.0) {
        return QString::asprintf("%.1f KB", kb);
    }
    const double mb = kb / 1024.0;
    if (mb < 1024.0) {
        return QString::asprintf("%.2f MB", mb);
    }
    return QString::asprintf("%.2f GB", mb / 1024.0);
}

QString AssetDownloads::downloadAndLinkAsset(
    const HtmlNode& element, const QString& assetType, bool dryRun)
{
    QString address = element.attr(QStringLiteral("src"));
    if (address.isEmpty()) {
        address = element.attr(QStringLiteral("href"));
    }
    if (address.isEmpty()) {
        for (const HtmlNode* child : element.childNodes()) {
            if (child->isElement() && child->tag() == GUMBO_TAG_SOURCE) {
                address = child->attr(QStringLiteral("src"));
                break;
            }
        }
    }
    if (!address.startsWith(QLatin1String("http"))) {
        // Inline data, blob: addresses and the like cannot be fetched: link them as they are.
        if (address.isEmpty()) {
            return {};
        }
        if (assetType == QLatin1String("file")) {
            return remoteLink(address, assetType, element.text());
        }
        return remoteLink(address, assetType, element.attr(QStringLiteral("alt")).simplified());
    }

    QString name = urlToFilename_.value(address);
    if (name.isEmpty()) {
        name = reserveFilename(chooseFilename(element, address, assetType));
        urlToFilename_.insert(address, name);
        assetOrder_.append(address);
        // Each distinct asset counts once per conversion, so the dry run's count is the number
        // of downloads the real run makes and progress can reach 100 %.
        std::lock_guard lock(progressLock_);
        ++totalAssets_;
    }
    if (!dryRun && !scheduledUrls_.contains(address)) {
        scheduledUrls_.insert(address);
        downloadFileAsync(address, name);
    }
    if (hasFailed(address)) {
        // No file will be written for it: keep the address rather than embed a missing file.
        return remoteLink(address, assetType, assetType == QLatin1String("file") ? name : QString());
    }
    return QStringLiteral("![[") + name + QStringLiteral("]]");
}

QString AssetDownloads::remoteLink(const QString& address, const QString& assetType, const QString& text)
{
    const QString destination = QStringLiteral("](") + MarkdownEscaping::linkDestination(address) + QLatin1Char(')');
    if (assetType == QLatin1String("file")) {
        return QLatin1Char('[') + MarkdownEscaping::linkText(text) + destination;
    }
    return QStringLiteral("![") + MarkdownEscaping::linkText(text) + destination;
}

QString AssetDownloads::chooseFilename(
    const HtmlNode& element, const QString& url, const QString& assetType) const
{
    const QUrl parsed(url);
    const QUrlQuery query(parsed);
    QString name = query.hasQueryItem(QStringLiteral("pmaid"))
        ? query.queryItemValue(QStringLiteral("pmaid"), QUrl::FullyDecoded)
        : lastPathComponent(parsed);
    if (name.isEmpty() || name == QLatin1String("download")) {
        name = QStringLiteral("file_") + UuidText::fresh();
    }
    if (assetType == QLatin1String("file")) {
        if (const HtmlNode* title = element.selectFirst(fileInfoTitleSelector())) {
            const QString text = title->text();
            if (!text.isEmpty()) {
                name = text;
            }
        }
    }
    // Every part of the name comes from the page: no separators, no leading dot, never "..".
    name = MarkdownConverter::sanitizeFilename(name);
    if (pathExtension(name).isEmpty()) {
        const QString extension = defaultExtension(assetType);
        if (!extension.isEmpty()) {
            name = FileNameLimit::fit(name, QLatin1Char('.') + extension);
        }
    }
    return name;
}

QString AssetDownloads::reserveFilename(const QString& name)
{
    QString candidate = name;
    if (reservedFilenames_.contains(candidate)) {
        const QString extension = pathExtension(name);
        const QString base = extension.isEmpty() ? name : name.left(name.size() - extension.size() - 1);
        const QString suffix = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;
        for (int counter = 1; reservedFilenames_.contains(candidate); ++counter) {
            candidate = FileNameLimit::fit(base, QLatin1Char('_') + QString::number(counter) + suffix);
        }
    }
    reservedFilenames_.insert(candidate);
    return candidate;
}

void AssetDownloads::requestUnscheduled()
{
    for (const QString& address : std::as_const(assetOrder_)) {
        if (!scheduledUrls_.contains(address)) {
            scheduledUrls_.insert(address);
            downloadFileAsync(address, urlToFilename_.value(address));
        }
    }
}

void AssetDownloads::downloadFileAsync(const QString& url, const QString& filename)
{
    log(QStringLiteral("Requesting download: ") + url);
    {
        std::lock_guard lock(progressLock_);
        if (!downloadStartTime_) {
            downloadStartTime_ = now();
        }
    }
    {
        std::lock_guard lock(groupMutex_);
        ++groupCount_;
    }
    {
        std::lock_guard lock(pendingLock_);
        pendingDownloads_.insert(url, filename);
    }
    // The hook may answer at once, on this thread: no lock is held here.
    if (owner_.onRequestDownload) {
        owner_.onRequestDownload(url);
    }
}

void AssetDownloads::saveDownloadedFile(
    const QString& url, const std::optional<QByteArray>& data, const std::optional<QString>& error)
{
    if (!settle(url, data, error)) {
        log(QStringLiteral("⚠️ Received file for unknown URL: ") + url);
    }
}

bool AssetDownloads::settle(
    const QString& url, const std::optional<QByteArray>& data, const std::optional<QString>& error)
{
    QString name;
    {
        std::lock_guard lock(pendingLock_);
        const auto it = pendingDownloads_.constFind(url);
        if (it != pendingDownloads_.cend()) {
            name = it.value();
            pendingDownloads_.erase(it);
            if (!error && data) {
                assets_.insert(name, *data);
            } else {
                failedUrls_.insert(url);
            }
        }
    }
    // Pending names are never empty (sanitizeFilename gives "untitled" at least).
    if (name.isEmpty()) {
        return false;
    }

    qint64 processed = 0;
    qint64 total = 0;
    std::optional<QDateTime> startTime;
    {
        std::lock_guard lock(progressLock_);
        processed = ++processedAssets_;
        total = totalAssets_;
        startTime = downloadStartTime_;
    }
    if (error || !data) {
        log(QStringLiteral("❌ Download failed for ") + url + QStringLiteral(": ")
            + error.value_or(QStringLiteral("no data")));
    } else {
        const double seconds = startTime ? static_cast<double>(startTime->msecsTo(now())) / 1000.0 : 0.0;
        const qint64 percent = total > 0 ? processed * 100 / total : 0;
        log(QStringLiteral("Downloaded: ") + name + QStringLiteral(" [") + formatBytes(data->size())
            + QStringLiteral("] (") + QString::number(seconds, 'f', 2) + QStringLiteral("s, ")
            + QString::number(percent) + QStringLiteral("%)"));
    }
    if (owner_.onProgress) {
        owner_.onProgress(processed, total);
    }
    // Only the last answer can end the wait; waking the waiter for every other one costs the
    // answering thread a system call per download.
    bool groupDone = false;
    {
        std::lock_guard lock(groupMutex_);
        groupDone = --groupCount_ <= 0;
    }
    if (groupDone) {
        groupDone_.notify_all();
    }
    return true;
}

bool AssetDownloads::waitForDownloads(std::chrono::milliseconds timeout)
{
    const QDateTime start = now();
    const QDateTime deadline = start.addMSecs(timeout.count());
    QDateTime lastChange = start;
    qint64 lastProcessed = processedAssets();
    for (;;) {
        {
            std::unique_lock lock(groupMutex_);
            if (groupDone_.wait_for(lock, poll_, [this] { return groupCount_ <= 0; })) {
                return true;
            }
        }
        const QDateTime current = now();
        const qint64 processed = processedAssets();
        if (processed != lastProcessed) {
            lastProcessed = processed;
            lastChange = current;
        } else if (lastChange.msecsTo(current) > stall_.count()) {
            log(QStringLiteral("⚠️ Download stalled for ") + secondsText(stall_)
                + QStringLiteral("s. Aborting wait."));
            return false;
        }
        if (current >= deadline) {
            return false;
        }
    }
}

void AssetDownloads::abandonPending()
{
    std::lock_guard lock(pendingLock_);
    for (auto it = pendingDownloads_.cbegin(); it != pendingDownloads_.cend(); ++it) {
        failedUrls_.insert(it.key());
    }
    pendingDownloads_.clear();
}

void AssetDownloads::failPending(const QString& reason)
{
    QStringList urls;
    {
        std::lock_guard lock(pendingLock_);
        urls = pendingDownloads_.keys();
    }
    // Through the answer path, one at a time: an answer that races in first wins.
    for (const QString& url : std::as_const(urls)) {
        settle(url, std::nullopt, reason);
    }
}

bool AssetDownloads::hasFailures() const
{
    std::lock_guard lock(pendingLock_);
    return !failedUrls_.isEmpty();
}

bool AssetDownloads::hasFailed(const QString& url) const
{
    std::lock_guard lock(pendingLock_);
    return failedUrls_.contains(url);
}

QMap<QString, QByteArray> AssetDownloads::assets() const
{
    std::lock_guard lock(pendingLock_);
    return assets_;
}

qint64 AssetDownloads::totalAssets() const
{
    std::lock_guard lock(progressLock_);
    return totalAssets_;
}

void AssetDownloads::setTotalAssets(qint64 count)
{
    std::lock_guard lock(progressLock_);
    totalAssets_ = count;
}

qint64 AssetDownloads::processedAssets() const
{
    std::lock_guard lock(progressLock_);
    return processedAssets_;
}

void AssetDownloads::setClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

void AssetDownloads::setWaitDurations(std::chrono::milliseconds stall, std::chrono::milliseconds poll)
{
    stall_ = stall;
    poll_ = poll;
}

void AssetDownloads::log(const QString& text) const
{
    if (owner_.logger) {
        owner_.logger(text);
    }
}

QDateTime AssetDownloads::now() const
{
    return clock_();
}

#pragma once

// PUBLIC CONTRACT (used by the export controller): keep these signatures. Private members and
// further helpers are the converter's own business.

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class HtmlNode;

// A failure of the page parser or of a selector; what() is the readable description.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One conversion of one captured chat page into a Markdown note.
class MarkdownConverter {
public:
    // The site's host for uploaded attachments.
    static constexpr const char* assetHost = "poecdn.net";

    // Throws ConversionError when the page cannot be parsed.
    explicit MarkdownConverter(const QString& htmlContent,
        const std::optional<QString>& assetsDirName = std::nullopt,
        const std::optional<QDateTime>& fileCreationTime = std::nullopt,
        const std::optional<QString>& chatUrl = std::nullopt);
    // The same from the page's UTF-8 bytes, which must decode without error: no text copy of a
    // large page is made. The result is the one the decoded text gives.
    explicit MarkdownConverter(const QByteArray& utf8HtmlContent,
        const std::optional<QString>& assetsDirName = std::nullopt,
        const std::optional<QDateTime>& fileCreationTime = std::nullopt,
        const std::optional<QString>& chatUrl = std::nullopt);
    ~MarkdownConverter();

    MarkdownConverter(const MarkdownConverter&) = delete;
    MarkdownConverter& operator=(const MarkdownConverter&) = delete;

    static QString sanitizeFilename(const QString& name);
    // How many UTF-16 units the valid UTF-8 `utf8` decodes to.
    static qsizetype utf16Length(const QByteArray& utf8);
    // The length of `utf8` without a last character cut short.
    static qsizetype completeUtf8Length(const QByteArray& utf8);
    void updateFilename(const QString& filename);

    // The note text. A dry run counts the assets and requests nothing; the real run requests
    // every asset through onRequestDownload and waits for the answers. Throws ConversionError.
    QString process(bool dryRun);

    // Called from another thread (the server thread) while process(false) waits.
    void saveDownloadedFile(const QString& url, const std::optional<QByteArray>& data,
        const std::optional<QString>& error);
    // Any thread: every download still unanswered fails with `reason` (their addresses stay in
    // the note), for requests that can no longer be answered.
    void failPendingDownloads(const QString& reason);

    QString title() const;
    QString sanitizedTitle() const;
    QString suggestedFilename() const;
    QString assetsDirName() const;
    qint64 totalAssets() const;
    void setTotalAssets(qint64 count);
    qint64 processedAssets() const;
    // Downloaded bytes by the file name used in the note; read after process(false) returned.
    QMap<QString, QByteArray> assets() const;

    // Hooks; set them after construction and before process().
    std::function<void(const QString& text)> logger;
    std::function<void(qint64 processed, qint64 total)> onProgress;
    std::function<void(const QString& url)> onRequestDownload;

    // Test seams: the clock and the three wait durations (defaults: 300 s deadline,
    // 30 s stall, 1 s polls).
    void setClock(std::function<QDateTime()> clock);
    void setWaitDurations(std::chrono::milliseconds deadline, std::chrono::milliseconds stall,
        std::chrono::milliseconds poll);

    // Internal operations, public so they can be checked on their own.
    // A day label of the page ("Today", "Monday", "Mar 5", ...) as a date text, relative to
    // the file creation time; a label that is no date stays as it is.
    QString formatDate(const QString& label) const;
    // "d MMM yyyy" in English, in the local time zone (5 Mar 2024).
    static QString formatDateOutput(const QDateTime& date);
    static QString formatBytes(qint64 bytes);
    // A link ("a" element) that points at a downloadable attachment.
    static bool isAttachment(const HtmlNode& element);
    // True when every requested download was answered before the deadline and no stall.
    bool waitForDownloads(std::chrono::milliseconds timeout);
    QDateTime fileCreationTime() const;
    QString lastBotName() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

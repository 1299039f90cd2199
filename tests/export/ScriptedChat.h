#pragma once

#include "support/FakeExtension.h"

#include <QMap>
#include <QSet>

#include <atomic>
#include <mutex>

// The page side of an export, as the extension would answer it: the start-of-chat marker shows
// after a number of queries, the page grows while it is scrolled up, the capture arrives in
// chunks and downloads come back as file chunks (or as an error for unknown addresses).
class ScriptedChat {
public:
    std::atomic<int> markerAfterQueries {3};  // queries answered with 0 before the marker shows
    std::atomic<bool> pageValid {true};
    std::atomic<bool> emptyMetrics {false};
    std::atomic<bool> captureOnRequest {true};
    std::atomic<bool> heightGrows {true};
    std::atomic<int> collapsedCodeBlocks {2};
    QString invalidMessage;
    QByteArray page;
    qsizetype pageChunkSize = 700;
    QString captureRequestId = QStringLiteral("capture-1");
    QString captureCommand = QStringLiteral("capture_complete");
    std::atomic<int> missingChunk {-1};  // a chunk of the page the capture never sends
    QMap<QString, QByteArray> downloads;  // address -> bytes
    // The window offsets the metrics report, as a browser writes them.
    QString windowScrollX = QStringLiteral("3");
    QString windowScrollY = QStringLiteral("-4");

    std::atomic<int> markerQueries {0};

    // Downloads of the address are asked for and never answered (any thread).
    void holdDownload(const QString& url)
    {
        std::lock_guard lock(mutex_);
        heldDownloads_.insert(url);
    }
    void answerAllDownloads()
    {
        std::lock_guard lock(mutex_);
        heldDownloads_.clear();
    }

    FakeExtension::Script script()
    {
        return [this](FakeExtension& ext, const IPCMessage& m) { answer(ext, m); };
    }

private:
    void answer(FakeExtension& ext, const IPCMessage& m)
    {
        const QString& c = m.command;
        if (c == QStringLiteral("capture_start")) {
            if (captureOnRequest) {
                ext.sendChunks(QStringLiteral("saveDomHtmlChunk"), captureRequestId, page, pageChunkSize,
                    missingChunk >= 0 ? std::optional<qsizetype>(missingChunk) : std::nullopt);
                ext.send(FakeExtension::message(QStringLiteral("request"), captureCommand, captureRequestId));
            }
            return;
        }
        if (m.type != QStringLiteral("request")) {
            return;
        }
        if (c == QStringLiteral("update_ui") || c == QStringLiteral("ui_render")) {
            return; // progress messages are sent as requests but expect nothing back
        }
        if (c == QStringLiteral("validatePage")) {
            QMap<QString, QString> result {{QStringLiteral("ok"), pageValid ? QStringLiteral("true") : QStringLiteral("false")}};
            if (!invalidMessage.isEmpty()) {
                result.insert(QStringLiteral("message"), invalidMessage);
            }
            ext.respond(m, result);
        } else if (c == QStringLiteral("scrollGetMetrics")) {
            if (emptyMetrics) {
                ext.respond(m, {});
                return;
            }
            std::lock_guard lock(mutex_);
            if (heightGrows) {
                height_ += 500;
            }
            ext.respond(m, {
                {QStringLiteral("scrollTop"), QString::number(scrollTop_)},
                {QStringLiteral("scrollHeight"), QString::number(height_)},
                {QStringLiteral("clientHeight"), QStringLiteral("2000")},
                {QStringLiteral("windowScrollX"), windowScrollX},
                {QStringLiteral("windowScrollY"), windowScrollY},
                {QStringLiteral("acceptsNegative"), QStringLiteral("false")},
            });
        } else if (c == QStringLiteral("scrollSet")) {
            std::lock_guard lock(mutex_);
            if (m.args && m.args->value) {
                scrollTop_ = *m.args->value;
            }
            ext.respond(m);
        } else if (c == QStringLiteral("domQuery")) {
            const QString selector = m.args && m.args->selector ? *m.args->selector : QString();
            int count = 0;
            if (selector.contains(QStringLiteral("BotInfoCard"))) {
                count = ++markerQueries > markerAfterQueries ? 1 : 0;
            } else {
                count = collapsedCodeBlocks;
            }
            ext.respond(m, {{QStringLiteral("count"), QString::number(count)}});
        } else if (c == QStringLiteral("download")) {
            const QString url = m.args && m.args->url ? *m.args->url : QString();
            {
                std::lock_guard lock(mutex_);
                if (heldDownloads_.contains(url)) {
                    return;
                }
            }
            IPCArgs done;
            done.url = url;
            if (downloads.contains(url)) {
                ext.sendChunks(QStringLiteral("save_file"), m.request_id, downloads.value(url), 100);
                ext.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("save_file_complete"), m.request_id, done));
            } else {
                done.message = QStringLiteral("HTTP 403");
                ext.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("save_file_error"), m.request_id, done));
            }
        } else {
            ext.respond(m);
        }
    }

    std::mutex mutex_;
    QSet<QString> heldDownloads_;
    double scrollTop_ = 5000;
    qint64 height_ = 10000;
};

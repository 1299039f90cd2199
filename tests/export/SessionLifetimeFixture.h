#pragma once

#include "ExportFlowFixture.h"

#include <chrono>

// Exports that are left waiting for something, with short limits: the capture's start and
// grace, the processing, the extension's absence and the chunk store's idle limit.
class SessionLifetimeFixture : public ExportFlowFixture {
public:
    ExportTimings flowTimings() override
    {
        using namespace std::chrono_literals;
        ExportTimings timings = fastTimings();
        // Past the disconnect grace, so that an extension that goes away as the capture starts
        // is reported gone even on a slow machine; it still reads as 1 s.
        timings.captureStartLimit = 1500ms;
        timings.captureGrace = 200ms;
        timings.processingLimit = 1500ms;
        timings.sessionCheckInterval = 50ms;
        timings.disconnectGrace = 1000ms;
        // A stall far longer than any of the limits: waiting for it would show.
        timings.converterWaits = ExportTimings::ConverterWaits {120s, 60s, 10ms};
        return timings;
    }

    void SetUp() override
    {
        stores_.chunks.setIdleLimit(std::chrono::milliseconds(1000));
        ExportFlowFixture::SetUp();
        chat_.markerAfterQueries = 0;
        chat_.collapsedCodeBlocks = 0;
    }

    bool waitForDownloadRequests(const QString& url, int count)
    {
        return extension_.waitFor([&](const IPCMessage&) {
            int asked = 0;
            for (const IPCMessage& m : extension_.receivedWithCommand(QStringLiteral("download"))) {
                asked += m.args && m.args->url == url ? 1 : 0;
            }
            return asked >= count;
        });
    }

    // The extension reports that a held download failed.
    void failDownload(const QString& url, const QString& message)
    {
        IPCArgs failed;
        failed.url = url;
        failed.message = message;
        extension_.send(command(QStringLiteral("save_file_error"), failed));
    }

    // An ordinary export from start to success.
    void expectAnExportToSucceed(qint64 tab, const QString& captureId)
    {
        chat_.captureOnRequest = true;
        chat_.captureRequestId = captureId;
        invoke(tab, 9);
        const std::optional<IPCMessage> reply = waitForExportReply(captureId);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, QStringLiteral("response"));
    }

    QString sessionId() const
    {
        const std::optional<ExportSession> session = controller_->state().currentExport();
        return session ? session->sessionId : QString();
    }
};

// The chat page's image that the scripted extension cannot download.
inline const QString kGoneImage = QStringLiteral("https://poecdn.net/c/gone.png");

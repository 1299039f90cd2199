#pragma once

#include "ExportStores.h"
#include "RecordingShell.h"

#include "core/AppState.h"
#include "export/ExportController.h"
#include "export/ExportSessionState.h"
#include "export/MessageDispatcher.h"
#include "link/WebSocketServer.h"
#include "storage/VaultManager.h"
#include "support/FakeExtension.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

// A controller behind a real loopback server, with a scripted extension connected to it, its
// own settings, history and chunk store, and (on request) a temporary vault.
class ExportFixture : public ::testing::Test {
public:
    static ExportTimings fastTimings()
    {
        using namespace std::chrono_literals;
        ExportTimings timings;
        timings.requestTimeout = 400ms;
        timings.passSleep = 10ms;
        timings.shortSleep = 2ms;
        timings.converterWaits = ExportTimings::ConverterWaits {10s, 3s, 10ms};
        return timings;
    }

    void SetUp() override { start(fastTimings()); }

    void start(const ExportTimings& timings)
    {
        ASSERT_TRUE(stores_.settingsDir.isValid());
        AppState::shared().setShowOnboarding(false);

        controller_ = std::make_unique<ExportController>(&shell_, stores_.services(), timings);
        server_ = std::make_unique<WebSocketServer>(0, &controller_->dispatcher());
        server_->start();
        ASSERT_NE(server_->listeningPort(), 0);
        controller_->setWebSocketServer(server_.get());
        ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
        ASSERT_TRUE(log_.waitFor(QStringLiteral("WebSocket Client connected")));
    }

    void TearDown() override
    {
        extension_.close();
        if (controller_) {
            controller_->shutdown();
        }
        if (server_) {
            server_->setDelegate(nullptr);
            server_->stop();
        }
        controller_.reset(); // first, while the server it may still call exists
        server_.reset();
        testsupport::processEventsFor(std::chrono::milliseconds(5));
    }

    // "<temp>/My Vault" recorded as the vault.
    QString configureVault()
    {
        EXPECT_TRUE(vaultRoot_.isValid());
        const QString path = vaultRoot_.filePath(QStringLiteral("My Vault"));
        QDir().mkpath(path);
        VaultManager(stores_.config).setVaultURL(path);
        return path;
    }

    static QString freshId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

    static IPCMessage command(const QString& name, std::optional<IPCArgs> args = std::nullopt,
        const QString& requestId = freshId())
    {
        return FakeExtension::message(QStringLiteral("request"), name, requestId, std::move(args));
    }

    // Sends a marker command and waits until the controller logged it: everything sent before
    // has been dispatched and its main-thread work has run.
    bool settle()
    {
        const QString marker = QStringLiteral("settle-") + freshId();
        extension_.send(command(marker));
        return log_.waitFor(QStringLiteral("RCV CMD: ") + marker);
    }

    bool waitForStatus(const QString& status)
    {
        return testsupport::waitUntil([&] { return shell_.lastStatus() == status; });
    }

    testsupport::LogRecorder log_;
    ExportStores stores_;
    QTemporaryDir vaultRoot_;
    RecordingShell shell_;
    std::unique_ptr<ExportController> controller_;
    std::unique_ptr<WebSocketServer> server_;
    FakeExtension extension_;
};

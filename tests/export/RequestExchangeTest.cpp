#include "ExportFixture.h"

#include "export/RequestExchange.h"

#include <QTimer>

#include <future>
#include <thread>

namespace {

// Runs a request on a worker thread while the main thread keeps serving the event loop.
std::optional<IPCMessage> requestFromWorker(RequestExchange& exchange, const QString& command,
    std::optional<IPCArgs> args, double timeout)
{
    std::packaged_task<std::optional<IPCMessage>()> task([&] {
        return exchange.sendRequestAndWait(command, args, timeout);
    });
    std::future<std::optional<IPCMessage>> result = task.get_future();
    std::thread worker(std::move(task));
    testsupport::waitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        std::chrono::seconds(20));
    worker.join();
    return result.get();
}

} // namespace

class RequestExchangeTest : public ExportFixture {
public:
    // Leaves last-export ids 5/9 and no session: the export is refused for want of a vault.
    void leaveLastExportIds()
    {
        IPCArgs args;
        args.tabId = 5;
        args.windowId = 9;
        extension_.send(command(QStringLiteral("invoke_export"), args));
        ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
        ASSERT_TRUE(testsupport::waitUntil([&] { return !controller_->state().currentExport().has_value(); }));
        ASSERT_EQ(controller_->state().lastExportTabId(), 5);
        ASSERT_EQ(controller_->state().lastExportWindowId(), 9);
        extension_.clearReceived();
    }
};

TEST_F(RequestExchangeTest, SessionContextRules)
{
    struct Case {
        const char* name;
        bool lastIds;
        std::optional<IPCArgs> args;
        std::optional<IPCArgs> expected;
    };
    IPCArgs own;
    own.session = SessionContext {1, 2, QStringLiteral("mine")};
    IPCArgs selector;
    selector.selector = QStringLiteral("p");
    IPCArgs lastOnly;
    lastOnly.session = SessionContext {5, 9, std::nullopt};
    IPCArgs selectorWithLast = selector;
    selectorWithLast.session = lastOnly.session;

    const std::vector<Case> cases {
        {"nothing known: sent as given", false, std::nullopt, std::nullopt},
        {"nothing known: args as given", false, selector, selector},
        {"last ids without a session", true, std::nullopt, lastOnly},
        {"last ids added to args", true, selector, selectorWithLast},
        {"the caller's own session kept", true, own, own},
    };
    bool haveLastIds = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.lastIds && !haveLastIds) {
            leaveLastExportIds();
            haveLastIds = true;
        }
        extension_.clearReceived();
        EXPECT_FALSE(requestFromWorker(controller_->exchange(), QStringLiteral("probe"), c.args, 0.2).has_value());
        ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("probe")));
        const IPCMessage sent = extension_.receivedWithCommand(QStringLiteral("probe")).first();
        EXPECT_EQ(sent.type, QStringLiteral("request"));
        EXPECT_EQ(sent.source, QStringLiteral("app"));
        EXPECT_EQ(sent.args, c.expected);
    }
}

TEST_F(RequestExchangeTest, TwoRequestsInFlightEachGetTheirOwnReply)
{
    // The extension holds the first request until the second arrives, then answers in reverse.
    std::mutex mutex;
    QList<IPCMessage> held;
    extension_.setScript([&](FakeExtension& ext, const IPCMessage& m) {
        if (m.type != QStringLiteral("request")) {
            return;
        }
        std::lock_guard lock(mutex);
        held.append(m);
        if (held.size() == 2) {
            for (int i = 1; i >= 0; --i) {
                ext.respond(held[i], {{QStringLiteral("answer"), held[i].command}});
            }
        }
    });
    std::optional<IPCMessage> first;
    std::optional<IPCMessage> second;
    std::thread a([&] { first = controller_->exchange().sendRequestAndWait(QStringLiteral("first"), std::nullopt, 5.0); });
    std::thread b([&] { second = controller_->exchange().sendRequestAndWait(QStringLiteral("second"), std::nullopt, 5.0); });
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard lock(mutex);
        return held.size() == 2;
    }));
    a.join();
    b.join();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->request_id, second->request_id);
    EXPECT_EQ(first->result->value(QStringLiteral("answer")), QStringLiteral("first"));
    EXPECT_EQ(second->result->value(QStringLiteral("answer")), QStringLiteral("second"));
    EXPECT_FALSE(log_.contains(QStringLiteral("Request timed out")));
}

TEST_F(RequestExchangeTest, ErrorRepliesAreReturnedToo)
{
    extension_.setScript([](FakeExtension& ext, const IPCMessage& m) {
        if (m.type == QStringLiteral("request")) {
            IPCMessage error = FakeExtension::message(QStringLiteral("error"), m.command, m.request_id);
            error.error = IPCError {QStringLiteral("no such element")};
            ext.send(error);
        }
    });
    const std::optional<IPCMessage> reply = requestFromWorker(controller_->exchange(), QStringLiteral("domClick"), std::nullopt, 5.0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type, QStringLiteral("error"));
    EXPECT_EQ(reply->error, IPCError {QStringLiteral("no such element")});
}

TEST_F(RequestExchangeTest, ReplyAfterTheTimeOutIsNotDelivered)
{
    extension_.setScript([](FakeExtension& ext, const IPCMessage& m) {
        if (m.type == QStringLiteral("request")) {
            QTimer::singleShot(500, [&ext, m] { ext.respond(m, {{QStringLiteral("late"), QStringLiteral("true")}}); });
        }
    });
    EXPECT_FALSE(requestFromWorker(controller_->exchange(), QStringLiteral("slowCommand"), std::nullopt, 0.2).has_value());
    EXPECT_TRUE(log_.waitFor(QStringLiteral("⏱️ Request timed out: slowCommand")));
    // The late reply finds no waiter and is handled as a command.
    EXPECT_TRUE(log_.waitFor(QStringLiteral("RCV CMD: slowCommand")));
}

TEST(RequestExchangeDeathTest, WaitingOnTheMainThreadIsRefused)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RecordingShell shell;
    ExportStores stores;
    ExportController controller(&shell, stores.services());
    // Asserts in debug builds; elsewhere it returns at once instead of deadlocking.
    EXPECT_DEBUG_DEATH(
        EXPECT_FALSE(controller.exchange().sendRequestAndWait(QStringLiteral("validatePage"), std::nullopt, 60.0).has_value()),
        "main or server thread");
}

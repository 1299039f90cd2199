#include "ExportFixture.h"

#include "link/ChunkAssembler.h"
#include "storage/AppConfig.h"

using testsupport::LogRecorder;

namespace {

IPCArgs argsWith(const std::function<void(IPCArgs&)>& fill)
{
    IPCArgs args;
    fill(args);
    return args;
}

IPCMessage reply(const QString& command, const QString& requestId)
{
    return FakeExtension::message(QStringLiteral("response"), command, requestId);
}

bool isReplyWith(const IPCMessage& m, const QString& command, const QMap<QString, QString>& result)
{
    return m.type == QStringLiteral("response") && m.command == command && m.result == result;
}

} // namespace

// One message (or a few) sent over the connection, then what must and must not follow.
struct DispatchCase {
    const char* name;
    std::function<void(ExportFixture&)> arrange;
    std::function<std::vector<IPCMessage>()> messages;
    QStringList expectedLines;
    QStringList absentLines;
    // A message the extension must receive; without one, the extension must receive nothing.
    std::function<bool(const IPCMessage&)> expectedReply;
    std::function<void(ExportFixture&)> verify;
};

// Test listings show the case's name instead of its bytes.
void PrintTo(const DispatchCase& dispatchCase, std::ostream* out)
{
    *out << dispatchCase.name;
}

class DispatcherTest : public ExportFixture, public ::testing::WithParamInterface<DispatchCase> {
public:
    QString vault() { return configureVault(); }
};

TEST_P(DispatcherTest, Dispatches)
{
    const DispatchCase& c = GetParam();
    if (c.arrange) {
        c.arrange(*this);
    }
    extension_.clearReceived();
    for (const IPCMessage& m : c.messages()) {
        extension_.send(m);
    }
    ASSERT_TRUE(settle());
    if (c.expectedReply) {
        EXPECT_TRUE(extension_.waitFor(c.expectedReply, std::chrono::seconds(3)));
    } else {
        testsupport::processEventsFor(std::chrono::milliseconds(50));
        EXPECT_TRUE(extension_.received().isEmpty());
    }
    for (const QString& line : c.expectedLines) {
        EXPECT_TRUE(log_.contains(line)) << line.toStdString();
    }
    for (const QString& line : c.absentLines) {
        EXPECT_FALSE(log_.contains(line)) << line.toStdString();
    }
    if (c.verify) {
        c.verify(*this);
    }
}

static std::vector<IPCMessage> chunks(const QString& requestId, int total, std::optional<int> only = std::nullopt)
{
    std::vector<IPCMessage> messages;
    for (int i = 0; i < total; ++i) {
        if (only && *only != i) {
            continue;
        }
        messages.push_back(ExportFixture::command(QStringLiteral("saveDomHtmlChunk"), argsWith([&](IPCArgs& a) {
            a.chunkBase64 = QString::fromLatin1(QByteArray::number(i).toBase64());
            a.chunkIndex = i;
            a.totalChunks = total;
        }), requestId));
    }
    return messages;
}

INSTANTIATE_TEST_SUITE_P(Commands, DispatcherTest, ::testing::Values(
    DispatchCase {"PingIsSilent", {},
        [] { return std::vector {FakeExtension::message(QStringLiteral("ping"), QStringLiteral("ping"), QStringLiteral("p1"))}; },
        {}, {QStringLiteral("CMD: ping"), QStringLiteral("RCV CMD: ping")}, {}, {}},
    DispatchCase {"ReplyNobodyWaitsForFallsThrough", {},
        [] { return std::vector {reply(QStringLiteral("scrollSet"), QStringLiteral("late-1"))}; },
        {QStringLiteral("[SERVER] CMD: scrollSet (RID: late-1)"), QStringLiteral("RCV CMD: scrollSet")}, {}, {}, {}},
    DispatchCase {"CheckDestinationWithoutVault", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("check_destination"))}; },
        {}, {},
        [](const IPCMessage& m) {
            return isReplyWith(m, QStringLiteral("check_destination"),
                {{QStringLiteral("isRunning"), QStringLiteral("true")}, {QStringLiteral("isReachable"), QStringLiteral("false")},
                    {QStringLiteral("message"), QStringLiteral("Please configure Obsidian Vault in Mossbridge App")}});
        },
        {}},
    DispatchCase {"CheckDestinationWithVault", [](ExportFixture& f) { static_cast<DispatcherTest&>(f).vault(); },
        [] { return std::vector {ExportFixture::command(QStringLiteral("check_destination"))}; },
        {}, {},
        [](const IPCMessage& m) {
            return isReplyWith(m, QStringLiteral("check_destination"),
                {{QStringLiteral("isRunning"), QStringLiteral("true")}, {QStringLiteral("isReachable"), QStringLiteral("true")},
                    {QStringLiteral("message"), QString()}});
        },
        {}},
    DispatchCase {"HandshakeRecordsVersion", {},
        [] {
            return std::vector {ExportFixture::command(QStringLiteral("handshake"),
                argsWith([](IPCArgs& a) { a.version = QStringLiteral("0.11.2"); }))};
        },
        {}, {},
        [](const IPCMessage& m) {
            return isReplyWith(m, QStringLiteral("handshake"),
                {{QStringLiteral("app_running"), QStringLiteral("true")}, {QStringLiteral("app_version"), AppConfig::appVersion()},
                    {QStringLiteral("min_extension_version"), QStringLiteral("0.10.0")}});
        },
        [](ExportFixture& f) { EXPECT_EQ(f.controller_->state().connectedExtensionVersion(), QStringLiteral("0.11.2")); }},
    DispatchCase {"HandshakeWithoutVersionKeepsTheOldOne", {},
        [] {
            return std::vector {
                ExportFixture::command(QStringLiteral("handshake"), argsWith([](IPCArgs& a) { a.version = QStringLiteral("0.11.2"); })),
                ExportFixture::command(QStringLiteral("handshake"), IPCArgs {}),
                ExportFixture::command(QStringLiteral("handshake")),
            };
        },
        {}, {}, [](const IPCMessage& m) { return m.command == QStringLiteral("handshake"); },
        [](ExportFixture& f) { EXPECT_EQ(f.controller_->state().connectedExtensionVersion(), QStringLiteral("0.11.2")); }},
    DispatchCase {"ChunkProgressEveryFifthAndLast", {},
        [] { return chunks(QStringLiteral("chunks-12"), 12); },
        {QStringLiteral("Received chunk 1/12 for chunks-12"), QStringLiteral("Received chunk 6/12 for chunks-12"),
            QStringLiteral("Received chunk 11/12 for chunks-12"), QStringLiteral("Received chunk 12/12 for chunks-12")},
        {QStringLiteral("Received chunk 2/12"), QStringLiteral("Received chunk 5/12"), QStringLiteral("Received chunk 10/12")},
        {},
        [](ExportFixture& f) {
            EXPECT_EQ(f.stores_.chunks.getData(QStringLiteral("chunks-12")), QByteArray("01234567891011"));
        }},
    DispatchCase {"InvalidChunksAreRejected", {},
        [] {
            return std::vector {
                ExportFixture::command(QStringLiteral("save_file"), argsWith([](IPCArgs& a) {
                    a.chunkBase64 = QStringLiteral("AAAA");
                    a.totalChunks = 1;
                }), QStringLiteral("no-index")),
                ExportFixture::command(QStringLiteral("save_file"), argsWith([](IPCArgs& a) {
                    a.chunkBase64 = QStringLiteral("not base64!");
                    a.chunkIndex = 0;
                    a.totalChunks = 1;
                }), QStringLiteral("bad-base64")),
                ExportFixture::command(QStringLiteral("save_file"), argsWith([](IPCArgs& a) {
                    a.chunkBase64 = QStringLiteral("AAAA");
                    a.chunkIndex = 0;
                    a.totalChunks = -1;
                }), QStringLiteral("negative-total")),
            };
        },
        {QStringLiteral("[ERR] Invalid chunk args for no-index"), QStringLiteral("[ERR] Invalid chunk args for bad-base64"),
            QStringLiteral("[ERR] Invalid chunk args for negative-total")},
        {}, {}, {}},
    DispatchCase {"ForegroundTabGrantsTimeoutReset", {},
        [] {
            return std::vector {ExportFixture::command(QStringLiteral("update_tab_status"),
                argsWith([](IPCArgs& a) { a.isBackground = false; }))};
        },
        {QStringLiteral("[INFO] Tab background status updated: false")}, {}, {},
        [](ExportFixture& f) {
            EXPECT_FALSE(f.controller_->state().isTabBackgrounded());
            EXPECT_TRUE(f.controller_->state().isTimeoutResetRequested());
        }},
    DispatchCase {"BackgroundTabGrantsNoReset", {},
        [] {
            return std::vector {
                ExportFixture::command(QStringLiteral("update_tab_status"), argsWith([](IPCArgs& a) { a.isBackground = true; })),
                ExportFixture::command(QStringLiteral("update_tab_status"), IPCArgs {}),
            };
        },
        {QStringLiteral("[INFO] Tab background status updated: true")}, {QStringLiteral("updated: false")}, {},
        [](ExportFixture& f) {
            EXPECT_TRUE(f.controller_->state().isTabBackgrounded());
            EXPECT_FALSE(f.controller_->state().isTimeoutResetRequested());
        }},
    DispatchCase {"ResetTimeout", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("reset_timeout"))}; },
        {QStringLiteral("Timeout reset requested by extension.")}, {}, {},
        [](ExportFixture& f) { EXPECT_TRUE(f.controller_->state().isTimeoutResetRequested()); }},
    DispatchCase {"SessionStatusWithoutExport", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("get_session_status"))}; },
        {}, {},
        [](const IPCMessage& m) {
            return isReplyWith(m, QStringLiteral("session_status"), {{QStringLiteral("active"), QStringLiteral("false")}});
        },
        {}},
    DispatchCase {"LogTracksTheActiveTab", {},
        [] {
            return std::vector {ExportFixture::command(QStringLiteral("log"), argsWith([](IPCArgs& a) {
                a.message = QStringLiteral("Active tab URL");
                a.url = QStringLiteral("https://poe.com/chat/42");
            }))};
        },
        {QStringLiteral("Active tab URL - https://poe.com/chat/42")}, {}, {},
        [](ExportFixture& f) { EXPECT_EQ(f.controller_->state().lastActiveTabURL(), QStringLiteral("https://poe.com/chat/42")); }},
    DispatchCase {"LogNoActiveTabClearsIt",
        [](ExportFixture&) {},
        [] {
            return std::vector {
                ExportFixture::command(QStringLiteral("log"), argsWith([](IPCArgs& a) {
                    a.message = QStringLiteral("Active tab URL");
                    a.url = QStringLiteral("https://poe.com/chat/42");
                })),
                ExportFixture::command(QStringLiteral("log"), argsWith([](IPCArgs& a) { a.message = QStringLiteral("No active tab"); })),
            };
        },
        {QStringLiteral("No active tab")}, {}, {},
        [](ExportFixture& f) { EXPECT_EQ(f.controller_->state().lastActiveTabURL(), QString()); }},
    DispatchCase {"OpenResultWithoutHistory", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("open_result"))}; },
        {QStringLiteral("[WARN] open_result requested but no history found.")}, {}, {}, {}},
    DispatchCase {"ScrollCompleteWithNoHandler", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("scroll_error"), {}, QStringLiteral("s-1"))}; },
        {QStringLiteral("[SERVER] CMD: scroll_error (RID: s-1)")}, {QStringLiteral("RCV CMD: scroll_error")}, {}, {}},
    DispatchCase {"AssetMessagesNeedTheirArgs", {},
        [] {
            return std::vector {
                ExportFixture::command(QStringLiteral("save_file_complete"), IPCArgs {}),
                ExportFixture::command(QStringLiteral("save_file_error"), argsWith([](IPCArgs& a) { a.url = QStringLiteral("u"); })),
                ExportFixture::command(QStringLiteral("save_file_complete"), argsWith([](IPCArgs& a) { a.url = QStringLiteral("https://x/y.png"); }), QStringLiteral("nothing-here")),
            };
        },
        {QStringLiteral("[ERR] save_file_complete missing URL"),
            QStringLiteral("[ERR] save_file_complete called but data incomplete for RID: nothing-here")},
        {QStringLiteral("[ERR] Asset download failed")}, {}, {}},
    DispatchCase {"ExportMarkdownWithoutHtmlRequestId", {},
        [] { return std::vector {ExportFixture::command(QStringLiteral("exportMarkdown"), IPCArgs {}, QStringLiteral("em-1"))}; },
        {QStringLiteral("[ERR] exportMarkdown missing htmlRequestId")}, {},
        [](const IPCMessage& m) {
            return m.type == QStringLiteral("error") && m.request_id == QStringLiteral("em-1")
                && m.error == IPCError {QStringLiteral("Missing htmlRequestId")} && !m.result;
        },
        {}},
    DispatchCase {"ExportMarkdownWithUnknownHtml", {},
        [] {
            return std::vector {ExportFixture::command(QStringLiteral("exportMarkdown"),
                argsWith([](IPCArgs& a) { a.htmlRequestId = QStringLiteral("never-sent"); }), QStringLiteral("em-2"))};
        },
        {QStringLiteral("[ERR] exportMarkdown called but data not found for HTML RID: never-sent")}, {},
        [](const IPCMessage& m) {
            return m.type == QStringLiteral("error") && m.request_id == QStringLiteral("em-2")
                && m.error == IPCError {QStringLiteral("HTML data not found")};
        },
        {}},
    DispatchCase {"CaptureAnnouncedBeforeAllChunks", {},
        [] {
            std::vector<IPCMessage> messages = chunks(QStringLiteral("partial"), 3, 1);
            messages.push_back(ExportFixture::command(QStringLiteral("capture_complete"), {}, QStringLiteral("partial")));
            messages.push_back(ExportFixture::command(QStringLiteral("saveDomHtmlWrite"), {}, QStringLiteral("partial")));
            return messages;
        },
        {QStringLiteral("[ERR] capture_complete called but data incomplete for RID: partial"),
            QStringLiteral("[ERR] saveDomHtmlWrite called but data incomplete for RID: partial")},
        {}, {}, {}}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) { return std::string(info.param.name); });

// The server drops frames that are not envelopes, so these reach the delegate directly.
TEST(DispatcherFrames, UndecodableFramesAreLoggedCut)
{
    struct Case {
        QByteArray frame;
        QString line;
    };
    const QByteArray longText(250, 'x');
    const std::vector<Case> cases {
        {QByteArray("not json"), QStringLiteral("WS-RCV: not json")},
        {QByteArray(200, 'y'), QStringLiteral("WS-RCV: ") + QString(200, QLatin1Char('y'))},
        {longText, QStringLiteral("WS-RCV: ") + QString(200, QLatin1Char('x')) + QStringLiteral("...")},
        {QByteArray("\xff\xfe\x80", 3), QStringLiteral("[WS-SERVER] RCV: 3 bytes (Binary)")},
    };
    RecordingShell shell;
    ExportStores stores;
    ExportController controller(&shell, stores.services());
    WebSocketServer server(0, nullptr);
    for (const Case& c : cases) {
        LogRecorder log;
        controller.dispatcher().serverDidReceiveMessage(server, c.frame);
        ASSERT_TRUE(log.waitFor(c.line.left(30)));
        EXPECT_EQ(log.lines(), QStringList {c.line});
    }
}

TEST(DispatcherFrames, ServerLogLinesAreFiltered)
{
    RecordingShell shell;
    ExportStores stores;
    ExportController controller(&shell, stores.services());
    WebSocketServer server(0, nullptr);
    LogRecorder log;
    controller.dispatcher().serverDidLog(server, QStringLiteral("ReadLoop: Received 10 bytes. isComplete=true"));
    controller.dispatcher().serverDidLog(server, QStringLiteral("ProcessMessage: Decoding 10 bytes"));
    controller.dispatcher().serverDidLog(server, QStringLiteral("New connection [A] from 127.0.0.1."));
    ASSERT_TRUE(log.waitFor(QStringLiteral("New connection")));
    EXPECT_EQ(log.lines(), QStringList {QStringLiteral("[WS-LOG] New connection [A] from 127.0.0.1.")});
}

TEST_F(ExportFixture, ConnectClosesTheConnectTabWhileOnboardingShows)
{
    AppState::shared().setShowOnboarding(true);
    extension_.close();
    ASSERT_TRUE(log_.waitFor(QStringLiteral("WebSocket Client disconnected")));
    EXPECT_FALSE(AppState::shared().isExtensionConnected());
    extension_.clearReceived();
    ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
    EXPECT_TRUE(extension_.waitForCommand(QStringLiteral("close_connect_tab")));
    const IPCMessage close = extension_.receivedWithCommand(QStringLiteral("close_connect_tab")).first();
    EXPECT_EQ(close.type, QStringLiteral("command"));
    EXPECT_FALSE(close.args.has_value());
    EXPECT_TRUE(AppState::shared().isExtensionConnected());
    AppState::shared().setShowOnboarding(false);
}

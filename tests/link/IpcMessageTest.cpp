#include "link/IpcMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>

namespace {

// Wraps `args` JSON text into an otherwise valid envelope.
QByteArray withArgs(const char* args)
{
    return QByteArray(R"({"version":"1","request_id":"r","type":"request","command":"c","args":)") + args + '}';
}

struct DecodeCase {
    const char* name;
    QByteArray json;
    // Null when the bytes must be refused; otherwise checks the decoded message.
    std::function<void(const IPCMessage&)> check;
};

void PrintTo(const DecodeCase& c, std::ostream* os)
{
    *os << c.name;
}

class IpcMessageDecode : public testing::TestWithParam<DecodeCase> { };

TEST_P(IpcMessageDecode, DecodesOrRefuses)
{
    const DecodeCase& c = GetParam();
    const std::optional<IPCMessage> message = IPCMessage::decode(c.json);
    if (!c.check) {
        EXPECT_FALSE(message.has_value()) << c.json.constData();
        return;
    }
    ASSERT_TRUE(message.has_value()) << c.json.constData();
    c.check(*message);
}

const DecodeCase decodeCases[] = {
    // The envelope itself.
    {"minimal", R"({"version":"1","request_id":"r1","type":"request","command":"ping"})",
        [](const IPCMessage& m) {
            EXPECT_EQ(m.version, "1");
            EXPECT_EQ(m.request_id, "r1");
            EXPECT_EQ(m.type, "request");
            EXPECT_EQ(m.command, "ping");
            EXPECT_FALSE(m.source || m.args || m.result || m.error);
        }},
    {"version not checked", R"({"version":"7","request_id":"r","type":"t","command":"c"})",
        [](const IPCMessage& m) { EXPECT_EQ(m.version, "7"); }},
    {"missing version", R"({"request_id":"r","type":"t","command":"c"})", nullptr},
    {"missing request_id", R"({"version":"1","type":"t","command":"c"})", nullptr},
    {"missing type", R"({"version":"1","request_id":"r","command":"c"})", nullptr},
    {"missing command (a reply too)", R"({"version":"1","request_id":"r","type":"response","result":{}})", nullptr},
    {"required null", R"({"version":"1","request_id":null,"type":"t","command":"c"})", nullptr},
    {"command a number", R"({"version":"1","request_id":"r","type":"t","command":3})", nullptr},
    {"version a number", R"({"version":1,"request_id":"r","type":"t","command":"c"})", nullptr},
    {"source wrong type", R"({"version":"1","request_id":"r","type":"t","command":"c","source":true})", nullptr},
    {"optional null reads as absent",
        R"({"version":"1","request_id":"r","type":"t","command":"c","source":null,"args":null,"error":null})",
        [](const IPCMessage& m) { EXPECT_FALSE(m.source || m.args || m.error); }},
    {"unknown keys at every level",
        R"({"version":"1","request_id":"r","type":"t","command":"c","extra":[1,{}],
            "args":{"zzz":1,"session":{"tabId":1,"windowId":2,"more":"x"},"ui":{"type":"progress","k":null}},
            "error":{"message":"m","code":5}})",
        [](const IPCMessage& m) {
            ASSERT_TRUE(m.args && m.args->session && m.args->ui && m.error);
            EXPECT_EQ(m.args->session->tabId, 1);
            EXPECT_EQ(m.args->ui->type, "progress");
            EXPECT_EQ(m.error->message, "m");
        }},

    // `result` is a map of strings.
    {"result strings", R"({"version":"1","request_id":"r","type":"response","command":"c","result":{"a":"1","b":"true"}})",
        [](const IPCMessage& m) {
            ASSERT_TRUE(m.result);
            EXPECT_EQ(*m.result, (QMap<QString, QString> {{"a", "1"}, {"b", "true"}}));
        }},
    {"result number value", R"({"version":"1","request_id":"r","type":"response","command":"c","result":{"a":1}})", nullptr},
    {"result boolean value", R"({"version":"1","request_id":"r","type":"response","command":"c","result":{"a":true}})", nullptr},
    {"result an array", R"({"version":"1","request_id":"r","type":"response","command":"c","result":["a"]})", nullptr},

    // `error`.
    {"error without message", R"({"version":"1","request_id":"r","type":"error","command":"c","error":{}})", nullptr},
    {"error a string", R"({"version":"1","request_id":"r","type":"error","command":"c","error":"boom"})", nullptr},

    // Integer fields.
    {"integer", withArgs(R"({"chunkIndex":3,"totalChunks":4})"),
        [](const IPCMessage& m) {
            EXPECT_EQ(m.args->chunkIndex, 3);
            EXPECT_EQ(m.args->totalChunks, 4);
        }},
    {"negative integer", withArgs(R"({"delta":-250})"), [](const IPCMessage& m) { EXPECT_EQ(m.args->delta, -250); }},
    {"largest integer", withArgs(R"({"tabId":9223372036854775807})"),
        [](const IPCMessage& m) { EXPECT_EQ(m.args->tabId, std::numeric_limits<qint64>::max()); }},
    {"integer above 2^53 kept exact", withArgs(R"({"windowId":9007199254740993})"),
        [](const IPCMessage& m) { EXPECT_EQ(m.args->windowId, 9007199254740993LL); }},
    {"integer as string", withArgs(R"({"chunkIndex":"3"})"), nullptr},
    {"integer with fraction", withArgs(R"({"chunkIndex":3.5})"), nullptr},
    {"integer too large", withArgs(R"({"chunkIndex":1e300})"), nullptr},
    {"integer as boolean", withArgs(R"({"windowX":true})"), nullptr},

    // The real number field takes any number.
    {"value integral", withArgs(R"({"value":120})"), [](const IPCMessage& m) { EXPECT_EQ(m.args->value, 120.0); }},
    {"value fractional", withArgs(R"({"value":-0.25})"), [](const IPCMessage& m) { EXPECT_EQ(m.args->value, -0.25); }},
    {"value as string", withArgs(R"({"value":"1"})"), nullptr},

    // Booleans are only true and false.
    {"boolean", withArgs(R"({"inContainer":false,"isBackground":true})"),
        [](const IPCMessage& m) {
            EXPECT_EQ(m.args->inContainer, false);
            EXPECT_EQ(m.args->isBackground, true);
        }},
    {"boolean as number", withArgs(R"({"isBackground":1})"), nullptr},
    {"boolean as string", withArgs(R"({"isBackground":"true"})"), nullptr},

    // Strings and the string list.
    {"string as number", withArgs(R"({"chunkBase64":12})"), nullptr},
    {"selectors", withArgs(R"({"selectors":["a",".b"]})"),
        [](const IPCMessage& m) { EXPECT_EQ(m.args->selectors, (QStringList {"a", ".b"})); }},
    {"selectors empty", withArgs(R"({"selectors":[]})"),
        [](const IPCMessage& m) { EXPECT_EQ(m.args->selectors, QStringList {}); }},
    {"selectors with a number", withArgs(R"({"selectors":["a",1]})"), nullptr},
    {"selectors a string", withArgs(R"({"selectors":"a"})"), nullptr},

    // Nested records fail the whole message.
    {"args not an object", withArgs(R"("x")"), nullptr},
    {"ui without type", withArgs(R"({"ui":{"message":"m"}})"), nullptr},
    {"ui current as string", withArgs(R"({"ui":{"type":"progress","current":"1"}})"), nullptr},
    {"session without tabId", withArgs(R"({"session":{"windowId":2}})"), nullptr},
    {"session tabId fractional", withArgs(R"({"session":{"tabId":1.5,"windowId":2}})"), nullptr},
    {"session status wrong type", withArgs(R"({"session":{"tabId":1,"windowId":2,"status":0}})"), nullptr},

    // Not a JSON object at all.
    {"empty", "", nullptr},
    {"not JSON", "hello", nullptr},
    {"truncated", R"({"version":"1")", nullptr},
    {"array", R"([{"version":"1","request_id":"r","type":"t","command":"c"}])", nullptr},
    {"string", R"("x")", nullptr},
    {"trailing garbage", R"({"version":"1","request_id":"r","type":"t","command":"c"} x)", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, IpcMessageDecode, testing::ValuesIn(decodeCases),
    [](const testing::TestParamInfo<DecodeCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

IPCMessage fullMessage()
{
    IPCMessage m;
    m.request_id = "A1B2";
    m.source = "app";
    m.type = "response";
    m.command = "exportMarkdown";
    IPCArgs a;
    a.chunkBase64 = "aGVsbG8=";
    a.chunkIndex = 0;
    a.totalChunks = 2;
    a.filename = "note.md";
    a.destDir = "Inbox";
    a.htmlRequestId = "H";
    a.message = "m";
    a.url = "https://example.com/a";
    a.position = "top";
    a.value = 12.5;
    a.distancePx = 800;
    a.delayMs = 50;
    a.selector = "div.x";
    a.selectors = QStringList {"a", "b"};
    a.delta = -3;
    a.inContainer = true;
    a.windowX = 10;
    a.windowY = 20;
    a.token = "t";
    a.origin = "o";
    a.isBackground = false;
    a.tabId = 7;
    a.windowId = 8;
    a.chatTitle = "Title \"quoted\" ü";
    a.session = SessionContext {7, 8, QString("exporting")};
    UICommand ui;
    ui.type = "success";
    ui.message = "Done";
    ui.current = 3;
    ui.total = 4;
    ui.autoHideMs = 5000;
    ui.obsidianUrl = "obsidian://open?vault=V&file=F";
    ui.vaultName = "V";
    ui.filePath = "F.md";
    ui.showOpenButton = true;
    a.ui = ui;
    a.vaultName = "V";
    a.version = "0.10.0";
    m.args = a;
    m.result = QMap<QString, QString> {{"status", "success"}};
    m.error = IPCError {"none"};
    return m;
}

TEST(IpcMessageEncode, EveryFieldSurvivesARoundTrip)
{
    const IPCMessage m = fullMessage();
    const std::optional<IPCMessage> back = IPCMessage::decode(m.encode());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, m);
    EXPECT_EQ(m.args->toJson().size(), 28);
    EXPECT_EQ(m.args->ui->toJson().size(), 9);
}

TEST(IpcMessageEncode, AbsentOptionalsAreLeftOut)
{
    IPCMessage m;
    m.request_id = "r";
    m.type = "command";
    m.command = "capture_start";
    m.args = IPCArgs {};
    UICommand ui;
    ui.type = "progress";
    m.args->ui = ui;
    m.args->session = SessionContext {1, 2, std::nullopt};

    const QByteArray bytes = m.encode();
    EXPECT_FALSE(bytes.contains("null")) << bytes.constData();
    EXPECT_FALSE(bytes.contains('\n'));

    const QJsonObject object = QJsonDocument::fromJson(bytes).object();
    EXPECT_EQ(object.keys(), (QStringList {"args", "command", "request_id", "type", "version"}));
    EXPECT_EQ(object.value("version").toString(), "1");
    const QJsonObject args = object.value("args").toObject();
    EXPECT_EQ(args.keys(), (QStringList {"session", "ui"}));
    EXPECT_EQ(args.value("ui").toObject().keys(), QStringList {"type"});
    EXPECT_EQ(args.value("session").toObject().keys(), (QStringList {"tabId", "windowId"}));
}

TEST(IpcMessageEncode, NumbersAndBooleansKeepTheirJsonTypes)
{
    IPCArgs a;
    a.chunkIndex = 9007199254740993LL; // not representable as a double
    a.value = 0.5;
    a.inContainer = false;
    const QByteArray text = QJsonDocument(a.toJson()).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(text.contains(R"("chunkIndex":9007199254740993)")) << text.constData();
    EXPECT_TRUE(text.contains(R"("value":0.5)"));
    EXPECT_TRUE(text.contains(R"("inContainer":false)"));
}

TEST(IpcMessageRecords, FromJsonRefusesNonObjects)
{
    for (const QJsonValue& v : {QJsonValue(), QJsonValue(1), QJsonValue("x"), QJsonValue(QJsonArray {})}) {
        EXPECT_FALSE(IPCMessage::fromJson(v));
        EXPECT_FALSE(IPCArgs::fromJson(v));
        EXPECT_FALSE(UICommand::fromJson(v));
        EXPECT_FALSE(SessionContext::fromJson(v));
        EXPECT_FALSE(IPCError::fromJson(v));
    }
    EXPECT_TRUE(IPCArgs::fromJson(QJsonObject {}));
}

// The wire contract of every record, written out once as JSON text: each key with a value of
// its JSON type, the same values as fullMessage(). The checks below walk that text, so a key
// that is read under one name and written under another, or read with a looser or stricter type
// than its field has, shows here.
constexpr char everyKey[] = R"({
  "version": "1", "request_id": "A1B2", "source": "app", "type": "response", "command": "exportMarkdown",
  "args": {
    "chunkBase64": "aGVsbG8=", "chunkIndex": 0, "totalChunks": 2, "filename": "note.md", "destDir": "Inbox",
    "htmlRequestId": "H", "message": "m", "url": "https://example.com/a", "position": "top", "value": 12.5,
    "distancePx": 800, "delayMs": 50, "selector": "div.x", "selectors": ["a", "b"], "delta": -3,
    "inContainer": true, "windowX": 10, "windowY": 20, "token": "t", "origin": "o", "isBackground": false,
    "tabId": 7, "windowId": 8, "chatTitle": "Title \"quoted\" \u00fc",
    "session": {"tabId": 7, "windowId": 8, "status": "exporting"},
    "ui": {"type": "success", "message": "Done", "current": 3, "total": 4, "autoHideMs": 5000,
      "obsidianUrl": "obsidian://open?vault=V&file=F", "vaultName": "V", "filePath": "F.md", "showOpenButton": true},
    "vaultName": "V", "version": "0.10.0"
  },
  "result": {"status": "success"},
  "error": {"message": "none"}
})";

// The keys that must be present, by their path.
const QStringList requiredKeys {
    "version", "request_id", "type", "command", "args.session.tabId", "args.session.windowId", "args.ui.type",
    "error.message",
};

QJsonObject contract()
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(everyKey, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return document.object();
}

QByteArray text(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The contract with the value at `path` replaced (or removed when `value` is undefined).
QJsonObject withValue(QJsonObject object, QStringView path, const QJsonValue& value)
{
    const qsizetype dot = path.indexOf(u'.');
    const QString key = (dot < 0 ? path : path.left(dot)).toString();
    if (dot >= 0) {
        object.insert(key, withValue(object.value(key).toObject(), path.mid(dot + 1), value));
    } else if (value.isUndefined()) {
        object.remove(key);
    } else {
        object.insert(key, value);
    }
    return object;
}

// Every leaf of the contract, by path, with its value. Objects are records, except `result`,
// whose entries are the leaves.
void leaves(const QJsonObject& object, const QString& prefix, const std::function<void(const QString&, const QJsonValue&)>& visit)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QString path = prefix + it.key();
        if (it.value().isObject()) {
            leaves(it.value().toObject(), path + u'.', visit);
        } else {
            visit(path, it.value());
        }
    }
}

enum class Kind { String, Integer, Number, Boolean, StringList };

Kind kindOf(const QJsonValue& value)
{
    if (value.isString()) {
        return Kind::String;
    }
    if (value.isBool()) {
        return Kind::Boolean;
    }
    if (value.isArray()) {
        return Kind::StringList;
    }
    const double n = value.toDouble();
    return n == double(qint64(n)) ? Kind::Integer : Kind::Number;
}

struct Probe {
    const char* name;
    QJsonValue value;
    // The kinds of field that take it.
    QList<Kind> takenBy;
};

const QList<Probe>& probes()
{
    static const QList<Probe> all {
        {"a string", "s", {Kind::String}},
        {"an integer", 5, {Kind::Integer, Kind::Number}},
        {"a fraction", 5.5, {Kind::Number}},
        {"a number beyond 64 bits", 1e300, {Kind::Number}},
        {"a boolean", true, {Kind::Boolean}},
        {"an array of strings", QJsonArray {"s"}, {Kind::StringList}},
        {"an empty array", QJsonArray {}, {Kind::StringList}},
        {"an array holding a number", QJsonArray {"s", 1}, {}},
        {"an object", QJsonObject {{"s", "s"}}, {}},
    };
    return all;
}

TEST(IpcMessageRecords, EveryKeyDecodesIntoItsFieldAndIsWrittenBackUnderItsName)
{
    const QJsonObject wire = contract();
    const std::optional<IPCMessage> decoded = IPCMessage::decode(text(wire));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, fullMessage());
    EXPECT_EQ(fullMessage().toJson(), wire);
}

TEST(IpcMessageRecords, EachKeyTakesOnlyItsOwnJsonType)
{
    const QJsonObject wire = contract();
    int checked = 0;
    leaves(wire, QString(), [&](const QString& path, const QJsonValue& value) {
        const Kind kind = kindOf(value);
        for (const Probe& probe : probes()) {
            const bool taken = probe.takenBy.contains(kind);
            const QByteArray bytes = text(withValue(wire, path, probe.value));
            EXPECT_EQ(IPCMessage::decode(bytes).has_value(), taken)
                << path.toStdString() << " given " << probe.name << ": " << bytes.constData();
            ++checked;
        }
        // A null optional reads as absent; a null map entry is not a string.
        const bool inMap = path.startsWith("result.");
        const bool required = requiredKeys.contains(path);
        EXPECT_EQ(IPCMessage::decode(text(withValue(wire, path, QJsonValue::Null))).has_value(), !required && !inMap)
            << path.toStdString() << " given null";
        if (!inMap) {
            EXPECT_EQ(IPCMessage::decode(text(withValue(wire, path, QJsonValue::Undefined))).has_value(), !required)
                << path.toStdString() << " left out";
        }
    });
    EXPECT_GT(checked, 0);
}

TEST(IpcMessageRecords, ANestedRecordOfTheWrongTypeFailsTheWholeMessage)
{
    const QJsonObject wire = contract();
    for (const QString path : {"args", "args.session", "args.ui", "result", "error"}) {
        for (const QJsonValue& wrong : {QJsonValue("s"), QJsonValue(1), QJsonValue(true), QJsonValue(QJsonArray {})}) {
            EXPECT_FALSE(IPCMessage::decode(text(withValue(wire, path, wrong))))
                << path.toStdString() << " given " << text(QJsonObject {{"v", wrong}}).constData();
        }
    }
    // A record that asks for nothing takes an empty object; the others need their keys.
    EXPECT_TRUE(IPCMessage::decode(text(withValue(wire, u"args", QJsonObject {}))));
    EXPECT_TRUE(IPCMessage::decode(text(withValue(wire, u"result", QJsonObject {}))));
    EXPECT_FALSE(IPCMessage::decode(text(withValue(wire, u"args.session", QJsonObject {}))));
    EXPECT_FALSE(IPCMessage::decode(text(withValue(wire, u"args.ui", QJsonObject {}))));
    EXPECT_FALSE(IPCMessage::decode(text(withValue(wire, u"error", QJsonObject {}))));
}

} // namespace

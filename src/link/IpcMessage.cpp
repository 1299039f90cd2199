#include "link/IpcMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <limits>

namespace {

// Reads the fields of one JSON object with exact types. The first failure sticks: later reads
// become no-ops and the record is dropped by the caller.
class FieldReader {
public:
    explicit FieldReader(const QJsonObject& object)
        : object_(object)
    {
    }

    bool ok() const { return ok_; }

    void required(QLatin1StringView key, QString& out)
    {
        if (const auto v = requiredValue(key)) {
            if (v->isString()) {
                out = v->toString();
            } else {
                ok_ = false;
            }
        }
    }

    void required(QLatin1StringView key, qint64& out)
    {
        if (const auto v = requiredValue(key)) {
            if (!toInteger(*v, out)) {
                ok_ = false;
            }
        }
    }

    void optional(QLatin1StringView key, std::optional<QString>& out)
    {
        if (const auto v = optionalValue(key)) {
            if (v->isString()) {
                out = v->toString();
            } else {
                ok_ = false;
            }
        }
    }

    void optional(QLatin1StringView key, std::optional<qint64>& out)
    {
        if (const auto v = optionalValue(key)) {
            qint64 n = 0;
            if (toInteger(*v, n)) {
                out = n;
            } else {
                ok_ = false;
            }
        }
    }

    void optional(QLatin1StringView key, std::optional<double>& out)
    {
        if (const auto v = optionalValue(key)) {
            if (v->isDouble()) {
                out = v->toDouble();
            } else {
                ok_ = false;
            }
        }
    }

    void optional(QLatin1StringView key, std::optional<bool>& out)
    {
        if (const auto v = optionalValue(key)) {
            if (v->isBool()) {
                out = v->toBool();
            } else {
                ok_ = false;
            }
        }
    }

    void optional(QLatin1StringView key, std::optional<QStringList>& out)
    {
        if (const auto v = optionalValue(key)) {
            if (!v->isArray()) {
                ok_ = false;
                return;
            }
            const QJsonArray array = v->toArray();
            QStringList list;
            list.reserve(array.size());
            for (const QJsonValue& item : array) {
                if (!item.isString()) {
                    ok_ = false;
                    return;
                }
                list.append(item.toString());
            }
            out = std::move(list);
        }
    }

    void optional(QLatin1StringView key, std::optional<QMap<QString, QString>>& out)
    {
        if (const auto v = optionalValue(key)) {
            if (!v->isObject()) {
                ok_ = false;
                return;
            }
            const QJsonObject object = v->toObject();
            QMap<QString, QString> map;
            for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
                if (!it.value().isString()) {
                    ok_ = false;
                    return;
                }
                map.insert(it.key(), it.value().toString());
            }
            out = std::move(map);
        }
    }

    // A nested record with its own fromJson.
    template <typename Record>
    void optionalRecord(QLatin1StringView key, std::optional<Record>& out)
    {
        if (const auto v = optionalValue(key)) {
            out = Record::fromJson(QJsonValue(*v));
            if (!out) {
                ok_ = false;
            }
        }
    }

private:
    // JSON numbers are doubles in Qt's model; an integer field takes a whole number that fits
    // in 64 bits, like a plain JSON decoder would, and nothing else.
    static bool toInteger(QJsonValueConstRef v, qint64& out)
    {
        if (!v.isDouble()) {
            return false;
        }
        constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
        const qint64 n = v.toInteger(sentinel);
        if (n == sentinel) {
            // The sentinel itself is a valid value only when it really is the number.
            if (v.toDouble() != -9223372036854775808.0) {
                return false;
            }
        }
        out = n;
        return true;
    }

    // Lookups hand out references into the parsed document: copying a value out as a
    // QJsonValue would copy its string, and a chunk string is megabytes long.
    std::optional<QJsonValueConstRef> requiredValue(QLatin1StringView key)
    {
        if (!ok_) {
            return std::nullopt;
        }
        const auto it = object_.constFind(key);
        if (it == object_.constEnd()) {
            ok_ = false;
            return std::nullopt;
        }
        return it.value();
    }

    // An absent key or a null value both read as no value.
    std::optional<QJsonValueConstRef> optionalValue(QLatin1StringView key)
    {
        if (!ok_) {
            return std::nullopt;
        }
        const auto it = object_.constFind(key);
        if (it == object_.constEnd() || it.value().isNull()) {
            return std::nullopt;
        }
        return it.value();
    }

    const QJsonObject& object_;
    bool ok_ = true;
};

template <typename T>
void put(QJsonObject& object, QLatin1StringView key, const std::optional<T>& value)
{
    if (value) {
        object.insert(key, QJsonValue(*value));
    }
}

void put(QJsonObject& object, QLatin1StringView key, const std::optional<qint64>& value)
{
    if (value) {
        object.insert(key, QJsonValue(*value));
    }
}

void put(QJsonObject& object, QLatin1StringView key, const std::optional<QStringList>& value)
{
    if (value) {
        object.insert(key, QJsonArray::fromStringList(*value));
    }
}

template <typename Record>
void putRecord(QJsonObject& object, QLatin1StringView key, const std::optional<Record>& value)
{
    if (value) {
        object.insert(key, value->toJson());
    }
}

using namespace Qt::Literals::StringLiterals;

} // namespace

// IPCError

QJsonObject IPCError::toJson() const
{
    return QJsonObject {{"message"_L1, message}};
}

std::optional<IPCError> IPCError::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    FieldReader r(object);
    IPCError error;
    r.required("message"_L1, error.message);
    if (!r.ok()) {
        return std::nullopt;
    }
    return error;
}

// SessionContext

QJsonObject SessionContext::toJson() const
{
    QJsonObject object {{"tabId"_L1, tabId}, {"windowId"_L1, windowId}};
    put(object, "status"_L1, status);
    return object;
}

std::optional<SessionContext> SessionContext::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    FieldReader r(object);
    SessionContext session;
    r.required("tabId"_L1, session.tabId);
    r.required("windowId"_L1, session.windowId);
    r.optional("status"_L1, session.status);
    if (!r.ok()) {
        return std::nullopt;
    }
    return session;
}

// UICommand

QJsonObject UICommand::toJson() const
{
    QJsonObject object {{"type"_L1, type}};
    put(object, "message"_L1, message);
    put(object, "current"_L1, current);
    put(object, "total"_L1, total);
    put(object, "autoHideMs"_L1, autoHideMs);
    put(object, "obsidianUrl"_L1, obsidianUrl);
    put(object, "vaultName"_L1, vaultName);
    put(object, "filePath"_L1, filePath);
    put(object, "showOpenButton"_L1, showOpenButton);
    return object;
}

std::optional<UICommand> UICommand::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    FieldReader r(object);
    UICommand ui;
    r.required("type"_L1, ui.type);
    r.optional("message"_L1, ui.message);
    r.optional("current"_L1, ui.current);
    r.optional("total"_L1, ui.total);
    r.optional("autoHideMs"_L1, ui.autoHideMs);
    r.optional("obsidianUrl"_L1, ui.obsidianUrl);
    r.optional("vaultName"_L1, ui.vaultName);
    r.optional("filePath"_L1, ui.filePath);
    r.optional("showOpenButton"_L1, ui.showOpenButton);
    if (!r.ok()) {
        return std::nullopt;
    }
    return ui;
}

// IPCArgs

QJsonObject IPCArgs::toJson() const
{
    QJsonObject object;
    put(object, "chunkBase64"_L1, chunkBase64);
    put(object, "chunkIndex"_L1, chunkIndex);
    put(object, "totalChunks"_L1, totalChunks);
    put(object, "filename"_L1, filename);
    put(object, "destDir"_L1, destDir);
    put(object, "htmlRequestId"_L1, htmlRequestId);
    put(object, "message"_L1, message);
    put(object, "url"_L1, url);
    put(object, "position"_L1, position);
    put(object, "value"_L1, value);
    put(object, "distancePx"_L1, distancePx);
    put(object, "delayMs"_L1, delayMs);
    put(object, "selector"_L1, selector);
    put(object, "selectors"_L1, selectors);
    put(object, "delta"_L1, delta);
    put(object, "inContainer"_L1, inContainer);
    put(object, "windowX"_L1, windowX);
    put(object, "windowY"_L1, windowY);
    put(object, "token"_L1, token);
    put(object, "origin"_L1, origin);
    put(object, "isBackground"_L1, isBackground);
    put(object, "tabId"_L1, tabId);
    put(object, "windowId"_L1, windowId);
    put(object, "chatTitle"_L1, chatTitle);
    putRecord(object, "session"_L1, session);
    putRecord(object, "ui"_L1, ui);
    put(object, "vaultName"_L1, vaultName);
    put(object, "version"_L1, version);
    return object;
}

std::optional<IPCArgs> IPCArgs::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    FieldReader r(object);
    IPCArgs args;
    r.optional("chunkBase64"_L1, args.chunkBase64);
    r.optional("chunkIndex"_L1, args.chunkIndex);
    r.optional("totalChunks"_L1, args.totalChunks);
    r.optional("filename"_L1, args.filename);
    r.optional("destDir"_L1, args.destDir);
    r.optional("htmlRequestId"_L1, args.htmlRequestId);
    r.optional("message"_L1, args.message);
    r.optional("url"_L1, args.url);
    r.optional("position"_L1, args.position);
    r.optional("value"_L1, args.value);
    r.optional("distancePx"_L1, args.distancePx);
    r.optional("delayMs"_L1, args.delayMs);
    r.optional("selector"_L1, args.selector);
    r.optional("selectors"_L1, args.selectors);
    r.optional("delta"_L1, args.delta);
    r.optional("inContainer"_L1, args.inContainer);
    r.optional("windowX"_L1, args.windowX);
    r.optional("windowY"_L1, args.windowY);
    r.optional("token"_L1, args.token);
    r.optional("origin"_L1, args.origin);
    r.optional("isBackground"_L1, args.isBackground);
    r.optional("tabId"_L1, args.tabId);
    r.optional("windowId"_L1, args.windowId);
    r.optional("chatTitle"_L1, args.chatTitle);
    r.optionalRecord("session"_L1, args.session);
    r.optionalRecord("ui"_L1, args.ui);
    r.optional("vaultName"_L1, args.vaultName);
    r.optional("version"_L1, args.version);
    if (!r.ok()) {
        return std::nullopt;
    }
    return args;
}

// IPCMessage

QJsonObject IPCMessage::toJson() const
{
    QJsonObject object {
        {"version"_L1, version},
        {"request_id"_L1, request_id},
        {"type"_L1, type},
        {"command"_L1, command},
    };
    put(object, "source"_L1, source);
    putRecord(object, "args"_L1, args);
    if (result) {
        QJsonObject map;
        for (auto it = result->constBegin(); it != result->constEnd(); ++it) {
            map.insert(it.key(), it.value());
        }
        object.insert("result"_L1, map);
    }
    putRecord(object, "error"_L1, error);
    return object;
}

std::optional<IPCMessage> IPCMessage::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    FieldReader r(object);
    IPCMessage message;
    r.required("version"_L1, message.version);
    r.required("request_id"_L1, message.request_id);
    r.optional("source"_L1, message.source);
    r.required("type"_L1, message.type);
    r.required("command"_L1, message.command);
    r.optionalRecord("args"_L1, message.args);
    r.optional("result"_L1, message.result);
    r.optionalRecord("error"_L1, message.error);
    if (!r.ok()) {
        return std::nullopt;
    }
    return message;
}

QByteArray IPCMessage::encode() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

IPCMessage IPCMessage::make(const QString& source, const QString& type, const QString& command,
    const QString& requestId, std::optional<IPCArgs> args)
{
    IPCMessage message;
    message.request_id = requestId;
    message.source = source;
    message.type = type;
    message.command = command;
    message.args = std::move(args);
    return message;
}

std::optional<IPCMessage> IPCMessage::decode(const QByteArray& bytes)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}

#pragma once

#include "link/IpcArgs.h"
#include "link/IpcError.h"
#include "link/SessionContext.h"
#include "link/UiCommand.h"
#include "link/WireCodec.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>
#include <tuple>

// The JSON envelope of every message between Mossbridge and the browser extension. This header
// brings the records nested in it too. Reading and writing are WireCodec's: strict, unknown
// keys ignored, absent optionals never written.
struct IPCMessage {
    QString version = QStringLiteral("1");
    QString request_id;
    std::optional<QString> source;
    QString type;
    QString command;
    std::optional<IPCArgs> args;
    std::optional<QMap<QString, QString>> result;
    std::optional<IPCError> error;

    static constexpr auto wireFields()
    {
        return std::tuple {
            wireField("version", &IPCMessage::version),
            wireField("request_id", &IPCMessage::request_id),
            wireField("source", &IPCMessage::source),
            wireField("type", &IPCMessage::type),
            wireField("command", &IPCMessage::command),
            wireField("args", &IPCMessage::args),
            wireField("result", &IPCMessage::result),
            wireField("error", &IPCMessage::error),
        };
    }

    QJsonObject toJson() const { return WireCodec::write(*this); }
    static std::optional<IPCMessage> fromJson(const QJsonValue& value) { return WireCodec::read<IPCMessage>(value); }

    // A version "1" envelope sent by `source` ("app", "extension").
    static IPCMessage make(const QString& source, const QString& type, const QString& command,
        const QString& requestId, std::optional<IPCArgs> args = std::nullopt);

    // Compact UTF-8 JSON text of the envelope.
    QByteArray encode() const;
    // Parses and strictly decodes one message; nothing when the bytes are not a valid envelope.
    // In a chunk message of the usual shape the chunk's text is not copied: it stays a span of
    // `bytes`, already decoded from base64.
    static std::optional<IPCMessage> decode(const QByteArray& bytes);
    // The same answer from Qt's parser over all of the bytes, the chunk's text copied with the
    // rest.
    static std::optional<IPCMessage> decodeWhole(const QByteArray& bytes);

    bool operator==(const IPCMessage&) const = default;
};

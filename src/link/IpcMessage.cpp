#include "link/IpcMessage.h"

#include <QJsonDocument>
#include <QJsonParseError>

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

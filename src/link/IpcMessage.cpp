#include "link/IpcMessage.h"

#include "link/Base64.h"
#include "link/EnvelopeScanner.h"

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

std::optional<IPCMessage> IPCMessage::decodeWhole(const QByteArray& bytes)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}

std::optional<IPCMessage> IPCMessage::decode(const QByteArray& bytes)
{
    // A chunk's text is nearly all of its message. Parsed with the rest, it would be copied into
    // the document and then widened to UTF-16, only to be decoded from base64 once. So it is
    // cut out first and decoded where it lies; the rest, a few hundred bytes, goes through the
    // same strict parse. Taking plain characters out of a string changes nothing else the parse
    // sees, so the message passes or fails exactly as it would whole.
    const std::optional<EnvelopeScanner::Span> span = EnvelopeScanner::findChunkText(bytes);
    if (!span) {
        return decodeWhole(bytes);
    }
    const QByteArrayView text = QByteArrayView(bytes).sliced(span->offset, span->size);
    // The decoder takes base64's alphabet only, all plain characters; what it refuses is looked at.
    std::optional<QByteArray> decoded = Base64::decode(text);
    if (!decoded && !EnvelopeScanner::isPlainText(text)) {
        return decodeWhole(bytes);
    }

    const qsizetype end = span->offset + span->size;
    QByteArray rest;
    rest.reserve(bytes.size() - span->size);
    rest.append(bytes.constData(), span->offset).append(bytes.constData() + end, bytes.size() - end);
    std::optional<IPCMessage> message = decodeWhole(rest);
    if (!message) {
        return std::nullopt;
    }
    std::optional<IPCArgs>& args = message->args;
    if (!args || !args->chunkBase64 || !args->chunkBase64->isEmpty()) {
        return decodeWhole(bytes); // not the envelope the scan saw; the whole parse is always right
    }
    args->chunkBase64 = Base64Text::inMessage(bytes, span->offset, span->size, std::move(decoded));
    return message;
}

#include "export/ExportText.h"

#include <QStringDecoder>
#include <QVarLengthArray>

IPCMessage ExportText::appMessage(const QString& type, const QString& command, const QString& requestId)
{
    return IPCMessage::make(QStringLiteral("app"), type, command, requestId);
}

bool ExportText::isUtf8(const QByteArray& bytes)
{
    // The same decoder over the same bytes, a slice at a time into one small buffer.
    constexpr qsizetype slice = 16 * 1024;
    QStringDecoder decoder(QStringDecoder::Utf8);
    // A slice decodes to at most one unit a byte, plus what a character cut at its start adds.
    QVarLengthArray<QChar, slice + 4> buffer(slice + 4);
    for (qsizetype offset = 0; offset < bytes.size() && !decoder.hasError(); offset += slice) {
        decoder.appendToBuffer(buffer.data(), QByteArrayView(bytes).sliced(offset, qMin(slice, bytes.size() - offset)));
    }
    return !decoder.hasError();
}

std::optional<QString> ExportText::decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString ExportText::connectionGone()
{
    return QStringLiteral("Extension disconnected");
}

QString ExportText::configureVault()
{
    return QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings.");
}

#include "export/ExportText.h"

#include <QStringDecoder>

IPCMessage ExportText::appMessage(const QString& type, const QString& command, const QString& requestId)
{
    return IPCMessage::make(QStringLiteral("app"), type, command, requestId);
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

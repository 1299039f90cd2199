#include "export/ExportText.h"

#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QUuid>

QString ExportText::freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

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

std::optional<QString> ExportText::cutGraphemes(const QString& text, int count)
{
    if (text.size() <= count) {
        return std::nullopt; // fewer code units than characters asked for: nothing to cut
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        position = finder.toNextBoundary();
        if (position < 0 || position >= text.size()) {
            return std::nullopt;
        }
        ++seen;
    }
    return text.left(position);
}

QString ExportText::connectionGone()
{
    return QStringLiteral("Extension disconnected");
}

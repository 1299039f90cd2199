#include "export/ObsidianOpenInfo.h"

#include <QUrl>

QString ObsidianOpenInfo::encodeQueryValue(const QString& text)
{
    // toPercentEncoding keeps letters, digits and - . _ ~ already.
    static const QByteArray alsoAllowed = QByteArrayLiteral("!$&'()*+,/:;=?@");
    return QString::fromLatin1(QUrl::toPercentEncoding(text, alsoAllowed));
}

ObsidianOpenInfo ObsidianOpenInfo::make(const QString& vault, const QString& file)
{
    ObsidianOpenInfo info;
    info.vault = vault;
    info.file = file;
    info.obsidianUrl = QStringLiteral("obsidian://open?vault=") + encodeQueryValue(vault)
        + QStringLiteral("&file=") + encodeQueryValue(file);
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    info.filename = slash < 0 ? file : file.mid(slash + 1);
    return info;
}

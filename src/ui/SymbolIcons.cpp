#include "ui/SymbolIcons.h"

#include <QFile>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

namespace {

const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names {
        {QStringLiteral("folder.fill"), QStringLiteral("folder-symbolic")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new-symbolic")},
        {QStringLiteral("arrow.down"), QStringLiteral("go-down-symbolic")},
        {QStringLiteral("arrow.right"), QStringLiteral("go-next-symbolic")},
        {QStringLiteral("arrow.up.right"), QStringLiteral("send-to-symbolic")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit-symbolic")},
        {QStringLiteral("puzzlepiece.extension"), QStringLiteral("application-x-addon-symbolic")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok-symbolic")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning-symbolic")},
    };
    return names;
}

} // namespace

QString SymbolIcons::themeIconName(const QString& symbol)
{
    return themeNames().value(symbol);
}

QString SymbolIcons::packagedPath(const QString& symbol)
{
    return QStringLiteral(":/qt/qml/Mossbridge/Ui/icons/") + symbol + QStringLiteral(".svg");
}

bool SymbolIcons::hasSymbol(const QString& symbol)
{
    return QFile::exists(packagedPath(symbol));
}

QImage SymbolIcons::image(const QString& symbol, const QSize& size, const QColor& color)
{
    QImage image;
    const QString themeName = themeIconName(symbol);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
        image = QIcon::fromTheme(themeName).pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (image.isNull()) {
        image = QImage(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QSvgRenderer renderer(packagedPath(symbol));
        if (renderer.isValid()) {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter);
        }
    }
    // A symbol is a one-colour shape: keep the shape, paint it in the colour.
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

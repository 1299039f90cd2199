#include "ui/OnboardingSymbolProvider.h"

#include "ui/OnboardingColor.h"

#include <QFile>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QQmlEngine>
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
        // No theme has the logo's stand-in: always the packaged one.
        {QStringLiteral("diamond.fill"), QString()},
    };
    return names;
}

QImage renderSvg(const QString& path, const QSize& size)
{
    QSvgRenderer renderer(path);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return image;
}

} // namespace

OnboardingSymbolProvider::OnboardingSymbolProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

void OnboardingSymbolProvider::installOn(QQmlEngine& engine)
{
    if (engine.imageProvider(QString::fromLatin1(providerId)) == nullptr) {
        engine.addImageProvider(QString::fromLatin1(providerId), new OnboardingSymbolProvider);
    }
}

QString OnboardingSymbolProvider::themeIconName(const QString& symbol)
{
    return themeNames().value(symbol);
}

QString OnboardingSymbolProvider::fallbackPath(const QString& symbol)
{
    return QStringLiteral(":/qt/qml/Mossbridge/Ui/icons/") + symbol + QStringLiteral(".svg");
}

QImage OnboardingSymbolProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    // id: "<colour>/<symbol>"
    const qsizetype slash = id.indexOf(QLatin1Char('/'));
    const QColor tint = OnboardingColor::fromHex(slash > 0 ? id.left(slash) : QStringLiteral("ffffff"));
    const QString symbol = slash >= 0 ? id.mid(slash + 1) : id;
    const QSize target(requestedSize.width() > 0 ? requestedSize.width() : 24,
        requestedSize.height() > 0 ? requestedSize.height() : 24);

    QImage image;
    const QString themeName = themeIconName(symbol);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName)) {
        image = QIcon::fromTheme(themeName).pixmap(target).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (image.isNull() && QFile::exists(fallbackPath(symbol))) {
        image = renderSvg(fallbackPath(symbol), target);
    }
    if (image.isNull()) {
        image = QImage(target, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
    }
    // Symbols are one-colour shapes: keep the shape, paint it in the asked colour.
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), tint);
    }
    if (size != nullptr) {
        *size = image.size();
    }
    return image;
}

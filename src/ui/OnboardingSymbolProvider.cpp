#include "ui/OnboardingSymbolProvider.h"

#include "ui/OnboardingColor.h"
#include "ui/SymbolIcons.h"

#include <QQmlEngine>

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

QImage OnboardingSymbolProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    // id: "<colour>/<symbol>"
    const qsizetype slash = id.indexOf(QLatin1Char('/'));
    const QColor tint = OnboardingColor::fromHex(slash > 0 ? id.left(slash) : QStringLiteral("ffffff"));
    const QString symbol = slash >= 0 ? id.mid(slash + 1) : id;
    const QSize target(requestedSize.width() > 0 ? requestedSize.width() : 24,
        requestedSize.height() > 0 ? requestedSize.height() : 24);

    const QImage image = SymbolIcons::image(symbol, target, tint);
    if (size != nullptr) {
        *size = image.size();
    }
    return image;
}

#include "ui/SymbolImage.h"

#include "ui/SymbolIcons.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>

namespace {

// A symbol sits in a square a little taller than the font's cap height, like a glyph.
constexpr qreal kSizeOfPointSize = 1.2;

} // namespace

SymbolImage::SymbolImage(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    updateImplicitSize();
}

bool SymbolImage::hasSymbol(const QString& name)
{
    return SymbolIcons::hasSymbol(name);
}

void SymbolImage::setName(const QString& name)
{
    if (name_ == name) {
        return;
    }
    name_ = name;
    if (!name_.isEmpty() && !hasSymbol(name_)) {
        qWarning("SymbolImage: no symbol named \"%s\"", qPrintable(name_));
    }
    update();
    Q_EMIT nameChanged();
}

void SymbolImage::setColor(const QColor& color)
{
    if (color_ == color) {
        return;
    }
    color_ = color;
    update();
    Q_EMIT colorChanged();
}

void SymbolImage::setPointSize(qreal pointSize)
{
    if (qFuzzyCompare(pointSize_, pointSize)) {
        return;
    }
    pointSize_ = pointSize;
    updateImplicitSize();
    Q_EMIT pointSizeChanged();
}

void SymbolImage::updateImplicitSize()
{
    setImplicitSize(pointSize_ * kSizeOfPointSize, pointSize_ * kSizeOfPointSize);
}

void SymbolImage::paint(QPainter* painter)
{
    if (name_.isEmpty() || width() <= 0 || height() <= 0) {
        return;
    }
    const qreal scale = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    QImage image = SymbolIcons::image(name_, (boundingRect().size() * scale).toSize(), color_);
    image.setDevicePixelRatio(scale);
    painter->drawImage(QPointF(0, 0), image);
}

#include "ui/SymbolImage.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QQuickWindow>
#include <QSvgRenderer>

namespace {

QString symbolPath(const QString& name)
{
    return QStringLiteral(":/qt/qml/Mossbridge/Ui/icons/") + name + QStringLiteral(".svg");
}

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
    return QFile::exists(symbolPath(name));
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
    QSvgRenderer renderer(symbolPath(name_));
    if (!renderer.isValid()) {
        return;
    }
    // Drawn black on a transparent image, then filled with the colour where the drawing is.
    const qreal scale = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    QImage image((boundingRect().size() * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    {
        QPainter imagePainter(&image);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&imagePainter, boundingRect());
        imagePainter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        imagePainter.fillRect(boundingRect(), color_);
    }
    painter->drawImage(QPointF(0, 0), image);
}

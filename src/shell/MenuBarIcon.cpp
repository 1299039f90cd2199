#include "shell/MenuBarIcon.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

// The glyph in its design space: x from 312 to 1115, y from 119 to 669, y growing downward.
// A bridge arch standing on its deck: one closed outline of lines and cubic curves.
QPainterPath designGlyph()
{
    QPainterPath path;
    path.moveTo(312, 119);
    path.lineTo(1115, 119);
    path.lineTo(1115, 229);
    path.lineTo(1032, 229);
    path.lineTo(1032, 669);
    path.lineTo(892, 669);
    path.lineTo(892, 560);
    path.cubicTo(892, 430, 810, 345, 713, 345);
    path.cubicTo(616, 345, 534, 430, 534, 560);
    path.lineTo(534, 669);
    path.lineTo(395, 669);
    path.lineTo(395, 229);
    path.lineTo(312, 229);
    path.closeSubpath();
    return path;
}

} // namespace

QPainterPath menuBarGlyphPath(qreal w, qreal h)
{
    const qreal s = 0.9 * std::min(h / 550.0, w / 803.0);
    // The rule flips the outline within the target (translate by h, scale y by -1) because it
    // was made for drawing surfaces whose y grows upward. A Qt image's y grows downward, like
    // the design space, so that flip and the surface's own cancel out: what remains is the
    // uniform scale and the centring.
    QTransform place;
    place.translate((w - 803 * s) / 2 - 312 * s, (h - 550 * s) / 2 - 119 * s);
    place.scale(s, s);
    return place.map(designGlyph());
}

QIcon createMenuBarIcon(const QSize& size, const QString& resourcePath)
{
    if (QFile::exists(resourcePath)) {
        QSvgRenderer renderer(resourcePath);
        if (renderer.isValid()) {
            QIcon icon;
            // Render at the requested size and twice it for high-density panels.
            for (const int scale : {1, 2}) {
                QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::transparent);
                QPainter painter(&image);
                renderer.render(&painter);
                painter.end();
                icon.addPixmap(QPixmap::fromImage(image));
            }
            icon.setIsMask(true);
            return icon;
        }
    }
    QIcon icon;
    for (const int scale : {1, 2}) {
        QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        painter.fillPath(menuBarGlyphPath(size.width(), size.height()), Qt::black);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    icon.setIsMask(true);
    return icon;
}

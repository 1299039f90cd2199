#pragma once

#include <QIcon>
#include <QPainterPath>
#include <QSize>
#include <QString>

// The tray icon: the packaged monochrome glyph, marked as a mask so that the desktop tints it
// for light and dark panels; the drawn glyph when the image is missing.
QIcon createMenuBarIcon(const QSize& size, const QString& resourcePath = QStringLiteral(":/resources/MenuBarIcon.svg"));

// The drawn glyph's outline for a target of width w and height h: scaled uniformly to 90 % of
// the tighter side and centred, upright in Qt's coordinates (y grows downward).
QPainterPath menuBarGlyphPath(qreal w, qreal h);

#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

// The one-colour symbols the windows draw ("folder.fill", "doc.text", …): the desktop's
// symbolic icon where its theme has one for the symbol, else the SVG packaged with the
// program, so the windows look right on a bare system. Painted in the asked colour.
class SymbolIcons {
public:
    // The freedesktop icon name tried first; empty for a symbol that always uses its own SVG.
    static QString themeIconName(const QString& symbol);
    // The compiled-in SVG of a symbol.
    static QString packagedPath(const QString& symbol);
    static bool hasSymbol(const QString& symbol);

    // The symbol at `size` device pixels in `color`; transparent when there is no such symbol.
    static QImage image(const QString& symbol, const QSize& size, const QColor& color);
};

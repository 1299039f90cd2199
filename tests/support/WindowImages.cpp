#include "support/WindowImages.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QQuickWindow>
#include <QWidget>

namespace testsupport {

QString windowImagePath(const QString& name)
{
    return QStringLiteral(MOSSBRIDGE_WINDOW_IMAGES_DIR) + QLatin1Char('/') + name + QStringLiteral(".png");
}

QString saveWindowImage(const QImage& image, const QString& name)
{
    const QString path = windowImagePath(name);
    QDir().mkpath(QStringLiteral(MOSSBRIDGE_WINDOW_IMAGES_DIR));
    if (image.isNull() || !image.save(path)) {
        return {};
    }
    return path;
}

QString saveWindowImage(QWidget& widget, const QString& name)
{
    return saveWindowImage(widget.grab().toImage(), name);
}

QString saveWindowImage(QQuickWindow& window, const QString& name)
{
    processEventsFor(std::chrono::milliseconds(50));
    return saveWindowImage(window.grabWindow(), name);
}

} // namespace testsupport

#pragma once

#include <QString>

class QImage;
class QQuickWindow;
class QWidget;

namespace testsupport {

// Where tests write pictures of windows: <build folder>/window-images/<name>.png, so that a
// person can look at what users see.
QString windowImagePath(const QString& name);

// Saves the image; returns the path written, or an empty string on failure.
QString saveWindowImage(const QImage& image, const QString& name);
QString saveWindowImage(QWidget& widget, const QString& name);
// Renders the Quick window (after letting it lay out) and saves it.
QString saveWindowImage(QQuickWindow& window, const QString& name);

} // namespace testsupport

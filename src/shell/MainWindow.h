#pragma once

#include <QQuickView>

// The main window: hosts the QML view "MainView" (the export history). Created hidden at launch;
// its view is loaded the first time it is shown, so start-up does not wait for QML.
class MainWindow : public QQuickView {
    Q_OBJECT

public:
    MainWindow();

    // Loads the view when it has not been loaded yet; returns whether it is ready.
    bool ensureContent();

Q_SIGNALS:
    // The window became the active (key) window.
    void becameKey();
    // The window is closing (its close button or a close request).
    void willClose();

protected:
    bool event(QEvent* event) override;
};

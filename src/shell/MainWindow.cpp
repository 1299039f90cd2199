#include "shell/MainWindow.h"

#include "ui/UiModule.h"

#include <QEvent>

MainWindow::MainWindow()
{
    setTitle(QStringLiteral("Mossbridge"));
    setMinimumSize(QSize(720, 500));
    resize(720, 500);
    setResizeMode(QQuickView::SizeRootObjectToView);
    connect(this, &QWindow::activeChanged, this, [this] {
        if (isActive()) {
            Q_EMIT becameKey();
        }
    });
}

bool MainWindow::ensureContent()
{
    if (source().isEmpty()) {
        UiModule::registerTypes();
        setSource(UiModule::viewUrl(QStringLiteral("MainView")));
    }
    return status() == QQuickView::Ready;
}

bool MainWindow::event(QEvent* event)
{
    if (event->type() == QEvent::Close) {
        Q_EMIT willClose();
    }
    return QQuickView::event(event);
}

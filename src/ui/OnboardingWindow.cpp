#include "ui/OnboardingWindow.h"

#include "ui/OnboardingColor.h"
#include "ui/OnboardingSymbolProvider.h"

#include <QMouseEvent>
#include <QQmlEngine>

OnboardingWindow::OnboardingWindow(CloseHooks hooks)
    : hooks_(std::move(hooks))
    , engine_(std::make_unique<QQmlEngine>())
{
    OnboardingSymbolProvider::installOn(*engine_);
    // Titled and closable, but neither resizable nor minimisable; no title text.
    setFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setColor(OnboardingColor::fromHex(QStringLiteral("1a1a1a")));
    contentItem()->setFlag(QQuickItem::ItemIsFocusScope);
}

OnboardingWindow::~OnboardingWindow()
{
    // The views go before the engine that made them.
    delete rootView_.data();
}

void OnboardingWindow::setRootView(QQuickItem* view)
{
    QQuickItem* previous = rootView_.data();
    rootView_ = view;
    if (view != nullptr) {
        view->setParentItem(contentItem());
    }
    delete previous;
}

void OnboardingWindow::fixSize(const QSize& size)
{
    setMinimumSize(size);
    setMaximumSize(size);
    resize(size);
}

bool OnboardingWindow::event(QEvent* event)
{
    if (event->type() == QEvent::Close) {
        if (hooks_.shouldClose && !hooks_.shouldClose()) {
            event->ignore();
            return true;
        }
        const bool handled = QQuickWindow::event(event);
        if (event->isAccepted() && hooks_.willClose) {
            hooks_.willClose();
        }
        return handled;
    }
    return QQuickWindow::event(event);
}

void OnboardingWindow::mousePressEvent(QMouseEvent* event)
{
    QQuickWindow::mousePressEvent(event);
    // A press that no control took lands on the background: move the window.
    if (!event->isAccepted() && event->button() == Qt::LeftButton) {
        event->setAccepted(startSystemMove());
    }
}

#include "platform/Application.h"

#include "platform/ApplicationDelegate.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

ApplicationDelegate* Application::delegate_ = nullptr;
ActivationPolicy Application::policy_ = ActivationPolicy::accessory;

void Application::setDelegate(ApplicationDelegate* delegate)
{
    delegate_ = delegate;
}

ApplicationDelegate* Application::delegate()
{
    return delegate_;
}

void Application::requestTerminate()
{
    if (delegate_ == nullptr || delegate_->applicationShouldTerminate() == ApplicationDelegate::TerminateReply::terminateNow) {
        terminateNow();
    }
}

void Application::terminateNow()
{
    QCoreApplication::exit(0);
}

void Application::setActivationPolicy(ActivationPolicy policy)
{
    policy_ = policy;
}

ActivationPolicy Application::activationPolicy()
{
    return policy_;
}

void Application::activateIgnoringOtherApps()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->transientParent() == nullptr) {
            bringForward(window);
        }
    }
}

void Application::bringForward(QWindow* window)
{
    if (window == nullptr) {
        return;
    }
    if (hasWindowSystem()) {
        window->raise();
    }
    window->requestActivate();
}

bool Application::hasWindowSystem()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    const QString platform = QGuiApplication::platformName();
    return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

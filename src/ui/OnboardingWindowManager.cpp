#include "ui/OnboardingWindowManager.h"

#include "core/AppState.h"
#include "platform/Application.h"
#include "platform/ApplicationDelegate.h"
#include "storage/ConfigManager.h"
#include "storage/VaultManager.h"
#include "ui/OnboardingNotifier.h"
#include "ui/OnboardingWindow.h"
#include "ui/UiModule.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>

namespace {

constexpr int kResizeDurationMs = 200;

} // namespace

OnboardingWindowManager& OnboardingWindowManager::shared()
{
    static OnboardingWindowManager instance;
    return instance;
}

OnboardingWindowManager::OnboardingWindowManager()
{
    // Windows must go while the application still exists; the shared instance outlives it.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, &OnboardingWindowManager::tearDown);
    }
}

OnboardingWindowManager::~OnboardingWindowManager()
{
    if (QCoreApplication::instance() != nullptr) {
        tearDown();
    }
    // Without the application the window cannot be destroyed safely; the process is ending.
}

int OnboardingWindowManager::heightFor(OnboardingMode mode)
{
    return mode == OnboardingMode::onboarding ? onboardingHeight : settingsHeight;
}

QQuickWindow* OnboardingWindowManager::window() const
{
    return windowController_.data();
}

QQuickItem* OnboardingWindowManager::rootView() const
{
    return hostingController_.data();
}

QQuickItem* OnboardingWindowManager::makeRootView(OnboardingMode mode) const
{
    UiModule::registerTypes();
    QQmlEngine& engine = windowController_->engine();
    QQmlComponent component(&engine, UiModule::viewUrl(QStringLiteral("OnboardingView")));
    QObject* object = component.beginCreate(engine.rootContext());
    auto* item = qobject_cast<QQuickItem*>(object);
    if (item == nullptr) {
        qWarning().noquote() << "OnboardingView did not load:" << component.errorString();
        delete object;
        return nullptr;
    }
    component.setInitialProperties(item, {{QStringLiteral("settingsForm"), mode == OnboardingMode::settings}});
    item->setParentItem(windowController_->contentItem());
    component.completeCreate();
    return item;
}

void OnboardingWindowManager::show(OnboardingMode mode)
{
    currentMode_ = mode;
    const int height = heightFor(mode);

    if (windowController_) {
        // The open window switches form: its view starts over, it keeps its place and its
        // width, and takes the new height around its centre.
        windowController_->setRootView(makeRootView(mode));
        hostingController_ = windowController_->rootView();
        resizeAroundCentre(height);
    } else {
        auto* window = new OnboardingWindow({
            [this] { return windowShouldClose(windowController_.data()); },
            [this] { windowWillClose(); },
        });
        windowController_ = window;
        window->fixSize(QSize(windowWidth, height));
        if (QScreen* screen = window->screen()) {
            window->setPosition(screen->availableGeometry().center() - QPoint(windowWidth / 2, height / 2));
        }
        window->setRootView(makeRootView(mode));
        hostingController_ = window->rootView();
        // Registered at every creation and never removed: a later window adds its own.
        connect(&OnboardingNotifier::shared(), &OnboardingNotifier::onboardingComplete, this,
            &OnboardingWindowManager::close);
    }

    AppState::shared().setShowOnboarding(mode == OnboardingMode::onboarding);
    Application::setActivationPolicy(ActivationPolicy::regular);
    windowController_->show();

    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!windowController_) {
                return;
            }
            // After a running resize, so the window is centred at its final size.
            if (resizeAnimation_ && resizeAnimation_->state() == QAbstractAnimation::Running) {
                connect(resizeAnimation_.data(), &QAbstractAnimation::finished, this,
                    &OnboardingWindowManager::centreAndBringForward, Qt::SingleShotConnection);
            } else {
                centreAndBringForward();
            }
        },
        Qt::QueuedConnection);
}

void OnboardingWindowManager::resizeAroundCentre(int height)
{
    OnboardingWindow* window = windowController_.data();
    const QRect frame = window->geometry();
    const QPoint centre = frame.center();
    const QRect target(centre.x() - frame.width() / 2, centre.y() - height / 2, frame.width(), height);
    if (resizeAnimation_) {
        resizeAnimation_->stop();
        delete resizeAnimation_.data();
    }
    if (target == frame) {
        return;
    }
    auto* animation = new QVariantAnimation(window);
    animation->setStartValue(frame);
    animation->setEndValue(target);
    animation->setDuration(kResizeDurationMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, window, [window](const QVariant& value) {
        const QRect rect = value.toRect();
        window->fixSize(rect.size());
        window->setPosition(rect.topLeft());
    });
    resizeAnimation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void OnboardingWindowManager::centreAndBringForward()
{
    OnboardingWindow* window = windowController_.data();
    if (window == nullptr) {
        return;
    }
    if (QScreen* screen = window->screen()) {
        const QRect frame = window->geometry();
        window->setPosition(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
    }
    Application::bringForward(window);
    Application::activateIgnoringOtherApps();
}

void OnboardingWindowManager::close()
{
    // Only a window that exists is being closed: a flag set with nothing to close would let
    // the next window's user close skip the close rule.
    if (!windowController_) {
        return;
    }
    isClosing_ = true;
    windowController_->close();
    // A window that never reached the screen closes without a close event.
    if (windowController_) {
        windowWillClose();
    }
}

void OnboardingWindowManager::handleCloseShortcut()
{
    if (windowController_ && windowController_->isVisible()) {
        windowController_->close();
    }
}

bool OnboardingWindowManager::isOnboardingKeyWindow() const
{
    return windowController_ && windowController_->isActive();
}

bool OnboardingWindowManager::windowShouldClose(QWindow* /*window*/)
{
    if (isClosing_ || currentMode_ == OnboardingMode::settings || isConfigured()) {
        return true;
    }
    requestTerminate();
    return false;
}

void OnboardingWindowManager::windowWillClose()
{
    // The window is still delivering its close event: it goes once that is over.
    if (OnboardingWindow* window = windowController_.data()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [window = QPointer<OnboardingWindow>(window)] {
            delete window.data();
        });
    }
    windowController_.clear();
    hostingController_.clear();
    AppState::shared().setShowOnboarding(false);
    isClosing_ = false;
}

void OnboardingWindowManager::tearDown()
{
    delete windowController_.data();
    windowController_.clear();
    hostingController_.clear();
}

bool OnboardingWindowManager::isConfigured() const
{
    const bool hasVault = VaultManager().getVaultURL().has_value();
    const auto folder = ConfigManager::shared().preferences().destinationFolder;
    return hasVault && folder && !folder->trimmed().isEmpty();
}

void OnboardingWindowManager::requestTerminate()
{
    if (ApplicationDelegate* delegate = Application::delegate()) {
        delegate->setAllowTerminateFromMenu(true);
    }
    Application::requestTerminate();
}

#include "ui/OnboardingServices.h"

#include "platform/BrowserFinder.h"
#include "ui/FolderChooser.h"

#include <QTimer>

#ifndef MOSSBRIDGE_CONNECT_PAGE_URL
#error "MOSSBRIDGE_CONNECT_PAGE_URL is set by the build (src/ui/CMakeLists.txt)"
#endif
#ifndef MOSSBRIDGE_STORE_PAGE_URL
#error "MOSSBRIDGE_STORE_PAGE_URL is set by the build (src/ui/CMakeLists.txt)"
#endif

OnboardingServices& OnboardingServices::shared()
{
    static OnboardingServices instance;
    return instance;
}

OnboardingServices::OnboardingServices()
    : desktopChooser_(std::make_unique<FolderChooser>())
    , desktopBrowser_(std::make_unique<BrowserFinder>())
{
    reset();
}

OnboardingServices::~OnboardingServices() = default;

FolderChooser& OnboardingServices::folderChooser() const
{
    return chooser_ != nullptr ? *chooser_ : *desktopChooser_;
}

BrowserFinder& OnboardingServices::browserFinder() const
{
    return browser_ != nullptr ? *browser_ : *desktopBrowser_;
}

void OnboardingServices::schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> block) const
{
    if (scheduler_) {
        scheduler_(delay, context, std::move(block));
    } else {
        QTimer::singleShot(delay, context, std::move(block));
    }
}

QString OnboardingServices::storePageAddress() const
{
    return QStringLiteral(MOSSBRIDGE_STORE_PAGE_URL);
}

void OnboardingServices::setFolderChooser(FolderChooser* chooser)
{
    chooser_ = chooser;
}

void OnboardingServices::setBrowserFinder(BrowserFinder* finder)
{
    browser_ = finder;
}

void OnboardingServices::setScheduler(Scheduler scheduler)
{
    scheduler_ = std::move(scheduler);
}

void OnboardingServices::reset()
{
    chooser_ = nullptr;
    browser_ = nullptr;
    scheduler_ = nullptr;
    connectPageAddress_ = QStringLiteral(MOSSBRIDGE_CONNECT_PAGE_URL);
}

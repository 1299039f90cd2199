#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class BrowserFinder;
class FolderChooser;

// What the onboarding views reach outside themselves: the folder chooser, the browser, the
// delayed re-check and the two web addresses. The views are made by QML, so they take these
// from this shared object; tests put stand-ins in. Main thread only.
class OnboardingServices {
public:
    // Runs `block` once after `delay`, unless `context` is gone by then.
    using Scheduler = std::function<void(std::chrono::milliseconds delay, QObject* context, std::function<void()> block)>;

    static OnboardingServices& shared();

    FolderChooser& folderChooser() const;
    BrowserFinder& browserFinder() const;
    void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> block) const;
    // The connect page (path "/connect/chrome") and the extension's store page; both are build options.
    QString connectPageAddress() const { return connectPageAddress_; }
    QString storePageAddress() const;

    // Stand-ins; nullptr / an empty function gives the desktop's own back. Not owned.
    void setFolderChooser(FolderChooser* chooser);
    void setBrowserFinder(BrowserFinder* finder);
    void setScheduler(Scheduler scheduler);
    void setConnectPageAddress(const QString& address) { connectPageAddress_ = address; }
    // Everything back to the desktop's own and the built-in address.
    void reset();

private:
    OnboardingServices();
    ~OnboardingServices();

    std::unique_ptr<FolderChooser> desktopChooser_;
    std::unique_ptr<BrowserFinder> desktopBrowser_;
    FolderChooser* chooser_ = nullptr;
    BrowserFinder* browser_ = nullptr;
    Scheduler scheduler_;
    QString connectPageAddress_;
};

#pragma once

// Told by the updater before an update installs or the program relaunches, so that the quit
// policy lets the program end.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void updaterWillInstallUpdate() = 0;
    virtual void updaterWillRelaunchApplication() = 0;
};

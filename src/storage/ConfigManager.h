#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include "storage/UserPreferences.h"

#include <mutex>

class UserDefaults;

// The process-wide preferences, loaded once from the user-defaults store.
class ConfigManager {
public:
    static ConfigManager& shared();

    explicit ConfigManager(UserDefaults& defaults);

    UserPreferences preferences() const;
    void save(const UserPreferences& preferences);
    // Deletes the stored record; the next start begins with the defaults (and onboarding).
    // This run keeps the preferences it has.
    void removeStoredPreferences();
    // Reads the store again (tests re-point the store between cases).
    void reload();

private:
    UserDefaults& defaults_;
    mutable std::mutex mutex_;
    UserPreferences preferences_;
};

#include "storage/ConfigManager.h"

#include "storage/UserDefaults.h"

namespace {

const QString kPreferencesKey = QStringLiteral("UserPreferences");

UserPreferences loadPreferences(const UserDefaults& defaults)
{
    if (const auto data = defaults.data(kPreferencesKey)) {
        if (auto decoded = UserPreferences::fromJson(*data)) {
            return *decoded;
        }
    }
    // Nothing stored, or a record that does not decode: defaults, not written back.
    return UserPreferences{std::nullopt, QStringLiteral("Mossbridge Inbox")};
}

} // namespace

ConfigManager& ConfigManager::shared()
{
    static ConfigManager instance(UserDefaults::standard());
    return instance;
}

ConfigManager::ConfigManager(UserDefaults& defaults)
    : defaults_(defaults)
    , preferences_(loadPreferences(defaults))
{
}

UserPreferences ConfigManager::preferences() const
{
    std::lock_guard lock(mutex_);
    return preferences_;
}

void ConfigManager::save(const UserPreferences& preferences)
{
    std::lock_guard lock(mutex_);
    preferences_ = preferences;
    defaults_.setData(kPreferencesKey, preferences.toJson());
}

void ConfigManager::reload()
{
    std::lock_guard lock(mutex_);
    preferences_ = loadPreferences(defaults_);
}

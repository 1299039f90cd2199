#include "storage/ConfigManager.h"

#include "core/DestinationFolder.h"
#include "core/StorageKeys.h"
#include "storage/UserDefaults.h"

namespace {

UserPreferences loadPreferences(const UserDefaults& defaults)
{
    if (const auto data = defaults.data(QString(StorageKeys::userPreferences))) {
        if (auto decoded = UserPreferences::fromJson(*data)) {
            return *decoded;
        }
    }
    // Nothing stored, or a record that does not decode: defaults, not written back.
    return UserPreferences{std::nullopt, DestinationFolder::defaultName()};
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
    defaults_.setData(QString(StorageKeys::userPreferences), preferences.toJson());
}

void ConfigManager::removeStoredPreferences()
{
    std::lock_guard lock(mutex_);
    defaults_.remove(QString(StorageKeys::userPreferences));
}

void ConfigManager::reload()
{
    std::lock_guard lock(mutex_);
    preferences_ = loadPreferences(defaults_);
}

#pragma once

#include <QLatin1StringView>

// The keys of the user-defaults store. Storage reads and writes them; the shell writes
// "HasLaunchedBefore" itself.
class StorageKeys {
public:
    static constexpr QLatin1StringView userPreferences {"UserPreferences"};
    static constexpr QLatin1StringView exportHistory {"MossbridgeExportHistory"};
    static constexpr QLatin1StringView hasLaunchedBefore {"HasLaunchedBefore"};
};

#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include <QString>

#include <optional>

class ConfigManager;

// Finds the vault folder again from its bookmark record, or records a newly chosen folder.
// Holds no state; make a fresh instance at each use.
class VaultManager {
public:
    VaultManager();                                   // uses ConfigManager::shared()
    explicit VaultManager(ConfigManager& config);

    // The vault folder's absolute path, or nothing.
    std::optional<QString> getVaultURL() const;
    void setVaultURL(const QString& folderPath);

private:
    ConfigManager& config_;
};

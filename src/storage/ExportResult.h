#pragma once

#include <QString>

// Where a written note went.
struct ExportResult {
    QString vaultName;     // the vault folder's last path component
    QString relativePath;  // the note's path inside the vault, "/" separators
    QString absolutePath;  // the note's full path on disk
};

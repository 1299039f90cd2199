#pragma once

#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

class ChunkAssembler;
class ExportHistoryManager;

// The stores an export works with: the history it records into, the chunk store its pages and
// attachments arrive in, where the vault is and how a note is written into it. The application
// passes its process-wide ones; tests, benchmarks and fuzz targets build their own.
struct ExportServices {
    ExportHistoryManager& history;
    ChunkAssembler& chunks;
    VaultManager vault;
    VaultWriter writer;
};

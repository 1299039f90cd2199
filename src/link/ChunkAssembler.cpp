#include "link/ChunkAssembler.h"

#include "core/MemoryTuning.h"

#include <cstring>

ChunkAssembler& ChunkAssembler::shared()
{
    static ChunkAssembler instance;
    return instance;
}

bool ChunkAssembler::addChunk(const QString& requestId, qint64 index, qint64 total, const QByteArray& data)
{
    // A negative total would never be matched by the join below, and a negative index can
    // never be part of a payload: both would only pile up unreachable chunks.
    if (index < 0 || total < 0) {
        return false;
    }

    std::lock_guard guard(lock);

    auto entry = chunks.find(requestId);
    if (entry == chunks.end()) {
        entry = chunks.insert(requestId, {});
        // Only the first chunk's total counts for the join.
        totals.insert(requestId, total);
    }
    entry->insert(index, data);

    // The count is compared with this call's total, the join uses the recorded one.
    if (entry->size() != total) {
        return true;
    }

    const qint64 recorded = totals.value(requestId);
    QByteArray joined;
    if (recorded > 0) {
        qsizetype size = 0;
        for (qint64 i = 0; i < recorded; ++i) {
            const auto part = entry->constFind(i);
            if (part == entry->constEnd()) {
                return true; // a gap: keep waiting, leave everything as it is
            }
            size += part->size();
        }
        joined.resize(size);
        adviseHugePages(joined.data(), static_cast<std::size_t>(size));
        char* out = joined.data();
        for (qint64 i = 0; i < recorded; ++i) {
            const QByteArray& part = *entry->constFind(i);
            std::memcpy(out, part.constData(), static_cast<std::size_t>(part.size()));
            out += part.size();
        }
    }
    completed.insert(requestId, joined);
    chunks.erase(entry);
    totals.remove(requestId);
    return true;
}

std::optional<QByteArray> ChunkAssembler::getData(const QString& requestId) const
{
    std::lock_guard guard(lock);
    const auto it = completed.constFind(requestId);
    if (it == completed.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void ChunkAssembler::clear(const QString& requestId)
{
    std::lock_guard guard(lock);
    chunks.remove(requestId);
    totals.remove(requestId);
    completed.remove(requestId);
}

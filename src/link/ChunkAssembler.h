#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

#include <mutex>
#include <optional>

// Reassembles chunked payloads (a captured page, a downloaded asset) by request id.
// Every operation holds the lock for its whole duration; any thread may call them.
class ChunkAssembler {
public:
    static ChunkAssembler& shared();

    ChunkAssembler() = default;

    // Stores one decoded chunk and completes the payload when this call makes it whole.
    // Returns false when the chunk is rejected (a negative index or total).
    bool addChunk(const QString& requestId, qint64 index, qint64 total, const QByteArray& data);
    // The completed payload, or nothing while incomplete or never seen. Does not remove it.
    std::optional<QByteArray> getData(const QString& requestId) const;
    // Forgets the chunks, the total and the completed payload of a request id.
    void clear(const QString& requestId);

private:
    mutable std::mutex lock;
    QHash<QString, QMap<qint64, QByteArray>> chunks;
    QHash<QString, qint64> totals;
    QHash<QString, QByteArray> completed;
};

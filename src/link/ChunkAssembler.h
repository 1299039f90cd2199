#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// Reassembles chunked payloads (a captured page, a downloaded asset) by request id.
// Every operation holds the lock for its whole duration; any thread may call them.
//
// A payload whose chunks stop coming (the tab closed, the extension reloaded), and a completed
// one that nobody reads, would otherwise stay for the life of the process: after `idleLimit`
// without a chunk or a read they are dropped and logged. The check runs on every added chunk
// and, while anything is stored, on a timer of the main thread. The memory of dropped payloads
// goes back to the system at once, and observers learn which request ids were dropped.
class ChunkAssembler {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Called with the dropped request ids, on the thread that dropped them, with no lock of the
    // store held; it must not add or remove observers.
    using DropObserver = std::function<void(const QStringList& requestIds)>;
    static constexpr std::chrono::seconds defaultIdleLimit { 120 };

    static ChunkAssembler& shared();

    ChunkAssembler();
    ~ChunkAssembler();
    ChunkAssembler(const ChunkAssembler&) = delete;
    ChunkAssembler& operator=(const ChunkAssembler&) = delete;

    // Stores one decoded chunk and completes the payload when this call makes it whole.
    // Returns false when the chunk is rejected (a negative index or total).
    bool addChunk(const QString& requestId, qint64 index, qint64 total, const QByteArray& data);
    // The completed payload, or nothing while incomplete or never seen. Does not remove it.
    std::optional<QByteArray> getData(const QString& requestId) const;
    // Forgets the chunks, the total and the completed payload of a request id.
    void clear(const QString& requestId);

    // Drops what has been idle for longer than the limit.
    void sweep();

    // Returns a token for removeDropObserver, which returns once no call to the observer runs.
    int addDropObserver(DropObserver observer);
    void removeDropObserver(int token);

    std::chrono::milliseconds idleLimit() const;

    // Test seams.
    void setClock(Clock clock);
    void setIdleLimit(std::chrono::milliseconds limit);

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Life;

    // What one sweep dropped: the log lines and the request ids.
    struct Dropped {
        QStringList lines;
        QStringList requestIds;
    };

    // Both with the lock held; what was dropped is reported once it is released.
    void sweepLocked(Dropped& dropped);
    void armSweepLocked();
    void reportDropped(const Dropped& dropped);
    void onSweepTimer();

    mutable std::mutex lock;
    QHash<QString, QMap<qint64, QByteArray>> chunks;
    QHash<QString, qint64> totals;
    QHash<QString, QByteArray> completed;
    // When each request id last received a chunk or had its payload read.
    mutable QHash<QString, TimePoint> lastUse;

    Clock clock_;
    std::chrono::milliseconds idleLimit_ { defaultIdleLimit };
    bool sweepArmed_ = false;
    // Lets a timer that fires after this assembler is gone do nothing.
    std::shared_ptr<Life> life_;

    std::mutex observersLock_;
    QMap<int, DropObserver> observers_;
    int nextObserverToken_ = 1;
};

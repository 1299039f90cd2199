#include "link/ChunkAssembler.h"

#include "core/ActivityLog.h"
#include "core/Dispatch.h"
#include "core/MemoryTuning.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstring>

struct ChunkAssembler::Life {
    std::mutex mutex;
    ChunkAssembler* owner = nullptr;
};

ChunkAssembler& ChunkAssembler::shared()
{
    static ChunkAssembler instance;
    return instance;
}

ChunkAssembler::ChunkAssembler()
    : clock_([] { return std::chrono::steady_clock::now(); })
    , life_(std::make_shared<Life>())
{
    life_->owner = this;
}

ChunkAssembler::~ChunkAssembler()
{
    std::lock_guard guard(life_->mutex);
    life_->owner = nullptr;
}

bool ChunkAssembler::addChunk(const QString& requestId, qint64 index, qint64 total, const QByteArray& data)
{
    // A negative total would never be matched by the join below, and a negative index can
    // never be part of a payload: both would only pile up unreachable chunks.
    if (index < 0 || total < 0) {
        return false;
    }

    Dropped dropped;
    {
        std::lock_guard guard(lock);
        sweepLocked(dropped);
        lastUse.insert(requestId, clock_());
        armSweepLocked();

        auto entry = chunks.find(requestId);
        if (entry == chunks.end()) {
            entry = chunks.insert(requestId, {});
            // Only the first chunk's total counts for the join.
            totals.insert(requestId, total);
        }
        entry->insert(index, data);

        // The count is compared with this call's total, the join uses the recorded one.
        if (entry->size() == total) {
            const qint64 recorded = totals.value(requestId);
            QByteArray joined;
            bool whole = true;
            if (recorded > 0) {
                qsizetype size = 0;
                for (qint64 i = 0; i < recorded && whole; ++i) {
                    const auto part = entry->constFind(i);
                    whole = part != entry->constEnd(); // a gap: keep waiting, leave everything as it is
                    if (whole) {
                        size += part->size();
                    }
                }
                if (whole && recorded == 1) {
                    joined = *entry->constFind(0); // a payload of one chunk is that chunk, shared
                } else if (whole) {
                    joined.resize(size);
                    adviseHugePages(joined.data(), static_cast<std::size_t>(size));
                    char* out = joined.data();
                    for (qint64 i = 0; i < recorded; ++i) {
                        const QByteArray& part = *entry->constFind(i);
                        std::memcpy(out, part.constData(), static_cast<std::size_t>(part.size()));
                        out += part.size();
                    }
                }
            }
            if (whole) {
                completed.insert(requestId, joined);
                chunks.erase(entry);
                totals.remove(requestId);
            }
        }
    }
    reportDropped(dropped);
    return true;
}

std::optional<QByteArray> ChunkAssembler::getData(const QString& requestId) const
{
    std::lock_guard guard(lock);
    const auto it = completed.constFind(requestId);
    if (it == completed.constEnd()) {
        return std::nullopt;
    }
    // A read keeps the payload in use.
    lastUse.insert(requestId, clock_());
    return *it;
}

void ChunkAssembler::clear(const QString& requestId)
{
    std::lock_guard guard(lock);
    chunks.remove(requestId);
    totals.remove(requestId);
    completed.remove(requestId);
    lastUse.remove(requestId);
}

void ChunkAssembler::sweep()
{
    Dropped dropped;
    {
        std::lock_guard guard(lock);
        sweepLocked(dropped);
    }
    reportDropped(dropped);
}

void ChunkAssembler::sweepLocked(Dropped& dropped)
{
    const TimePoint now = clock_();
    for (auto it = lastUse.begin(); it != lastUse.end();) {
        if (now - it.value() <= idleLimit_) {
            ++it;
            continue;
        }
        const QString& id = it.key();
        const QString seconds = QString::number(
            std::chrono::duration_cast<std::chrono::seconds>(idleLimit_).count());
        if (const auto done = completed.constFind(id); done != completed.constEnd()) {
            dropped.lines.append(QStringLiteral("[CHUNK] Dropped completed payload for RID: ") + id + QStringLiteral(" (")
                + QString::number(done->size()) + QStringLiteral(" bytes), not taken within ") + seconds
                + QStringLiteral("s"));
            completed.erase(done);
        }
        if (const auto parts = chunks.constFind(id); parts != chunks.constEnd()) {
            qsizetype bytes = 0;
            for (const QByteArray& part : *parts) {
                bytes += part.size();
            }
            dropped.lines.append(QStringLiteral("[CHUNK] Dropped incomplete payload for RID: ") + id + QStringLiteral(" (")
                + QString::number(parts->size()) + QStringLiteral(" of ") + QString::number(totals.value(id))
                + QStringLiteral(" chunks, ") + QString::number(bytes) + QStringLiteral(" bytes), no chunk for ")
                + seconds + QStringLiteral("s"));
            chunks.erase(parts);
            totals.remove(id);
        }
        dropped.requestIds.append(id);
        it = lastUse.erase(it);
    }
}

void ChunkAssembler::armSweepLocked()
{
    // Without an application (a tool, a fuzzer) there is no main loop: the sweep on each
    // added chunk is all there is.
    if (sweepArmed_ || lastUse.isEmpty() || QCoreApplication::instance() == nullptr) {
        return;
    }
    TimePoint earliest = lastUse.cbegin().value();
    for (const TimePoint& used : lastUse) {
        earliest = std::min(earliest, used);
    }
    const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(earliest + idleLimit_ - clock_());
    // Just past the limit, so the oldest entry is then idle for longer than the limit.
    const auto delay = std::max(due, std::chrono::milliseconds(0)) + std::chrono::milliseconds(1);
    sweepArmed_ = true;
    dispatchMainAsync([life = life_, delay] {
        QTimer::singleShot(delay, QCoreApplication::instance(), [life] {
            std::lock_guard guard(life->mutex);
            if (life->owner) {
                life->owner->onSweepTimer();
            }
        });
    });
}

void ChunkAssembler::onSweepTimer()
{
    Dropped dropped;
    {
        std::lock_guard guard(lock);
        sweepArmed_ = false;
        sweepLocked(dropped);
        armSweepLocked();
    }
    reportDropped(dropped);
}

void ChunkAssembler::reportDropped(const Dropped& dropped)
{
    if (dropped.requestIds.isEmpty()) {
        return;
    }
    for (const QString& line : dropped.lines) {
        appendLog(line);
    }
    // Abandoned payloads are often megabytes each and nothing may come to reuse their memory.
    releaseFreeMemory();
    // Called under their lock, so that an observer once removed is never called again.
    std::lock_guard guard(observersLock_);
    for (const DropObserver& observer : std::as_const(observers_)) {
        observer(dropped.requestIds);
    }
}

int ChunkAssembler::addDropObserver(DropObserver observer)
{
    std::lock_guard guard(observersLock_);
    const int token = nextObserverToken_++;
    observers_.insert(token, std::move(observer));
    return token;
}

void ChunkAssembler::removeDropObserver(int token)
{
    std::lock_guard guard(observersLock_);
    observers_.remove(token);
}

void ChunkAssembler::setClock(Clock clock)
{
    std::lock_guard guard(lock);
    clock_ = std::move(clock);
}

std::chrono::milliseconds ChunkAssembler::idleLimit() const
{
    std::lock_guard guard(lock);
    return idleLimit_;
}

void ChunkAssembler::setIdleLimit(std::chrono::milliseconds limit)
{
    std::lock_guard guard(lock);
    idleLimit_ = limit;
}

#include "core/BackgroundSync.h"

#include <unistd.h>

#include <cerrno>

namespace {
// Large enough that a handful of syncs cover even a big export, small enough that the device
// starts early.
constexpr qint64 kBytesPerSync = 8 * 1024 * 1024;
} // namespace

BackgroundSync::BackgroundSync(int fd)
    : fd_(fd)
{
}

BackgroundSync::~BackgroundSync()
{
    stop();
}

void BackgroundSync::wrote(qint64 bytes)
{
    std::lock_guard lock(mutex_);
    unsynced_ += bytes;
    if (unsynced_ < kBytesPerSync || stopping_) {
        return;
    }
    unsynced_ = 0;
    requested_ = true;
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
    wake_.notify_one();
}

int BackgroundSync::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    return error_;
}

void BackgroundSync::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return requested_ || stopping_; });
        if (stopping_) {
            return;
        }
        requested_ = false;
        lock.unlock();
        const int error = ::syncfs(fd_) == 0 ? 0 : errno;
        lock.lock();
        if (error_ == 0) {
            error_ = error;
        }
    }
}

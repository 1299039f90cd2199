#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <thread>

// Writes a file system's dirty data back on a thread of its own while a batch of files is
// still being written, so that the device works while the writer does, and the batch's final
// sync finds little left to do. One sync runs at a time; what is written meanwhile is taken by
// the next, so a slow device gets fewer, larger syncs. A sync here promises nothing; only the
// batch's final one does.
class BackgroundSync {
public:
    // `fd`: an open descriptor on the file system (the caller keeps it open while this lives).
    explicit BackgroundSync(int fd);
    ~BackgroundSync();
    BackgroundSync(const BackgroundSync&) = delete;
    BackgroundSync& operator=(const BackgroundSync&) = delete;

    // Counts bytes just written; each time enough have come together, a sync is started.
    void wrote(qint64 bytes);

    // Waits for a sync under way and stops. Returns the first error a sync reported (a write
    // back that failed is reported once only, so the final sync would not see it again), or 0.
    int stop();

private:
    void run();

    const int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    qint64 unsynced_ = 0;
    bool requested_ = false;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_; // started at the first request
};

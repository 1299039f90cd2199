#pragma once

#include <functional>

// The application's queues: the main queue is the Qt application thread, the
// global queue is the shared thread pool. Both helpers may be called from any thread.

// Queues `work` on the main thread and returns at once. Work posted from one thread runs in
// the order it was posted.
void dispatchMainAsync(std::function<void()> work);

// Runs `work` on the main thread and waits for it: directly when the caller is already the
// main thread, otherwise through a blocking queued call.
void dispatchMainSync(const std::function<void()>& work);

// Runs `work` on the global thread pool (user-initiated and background work alike).
void dispatchGlobalAsync(std::function<void()> work);

// True when the calling thread is the application's main thread.
bool isMainThread();

#pragma once

#include "support/TestSupport.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <optional>

// Real write failures for tests, made in a forked child so that nothing else in the test
// program is touched: a file-size limit (writes past it fail with EFBIG) and a small tmpfs of
// the child's own (writes past it fail with ENOSPC). The child reports back as a JSON object;
// gtest assertions belong in the parent.
namespace testsupport {

// Runs `body` in a forked child and returns its report; nothing (with a test failure) when the
// child crashed or did not finish within `timeout`.
std::optional<QJsonObject> runInChild(const std::function<QJsonObject()>& body,
    std::chrono::seconds timeout = std::chrono::seconds(60));

// In a child: from here on, a write that would make a file longer than `bytes` fails with
// EFBIG ("File too large") instead of killing the process.
void limitFileSize(qint64 bytes);
// In a child: writes of any size succeed again.
void liftFileSizeLimit();

// Whether a child can mount a tmpfs of its own (it needs root); the tests that need one skip
// when not.
bool canMountTmpfs();
// In a child: mounts a tmpfs of `bytes` at `folder`, seen by this child only and gone with it,
// puts `files` (name -> contents) in it and fills it up until only `freeBytes` are free (a
// multiple of the page size). Returns what went wrong, or nothing.
std::optional<QString> mountFullTmpfs(const QString& folder, qint64 bytes, const QMap<QString, QByteArray>& files,
    qint64 freeBytes);

// In a child: the activity-log lines appended so far, for a report (a LogRecorder made in the
// child receives them once the posted events are delivered, which this does).
QStringList deliveredLogLines(const LogRecorder& recorder);

// A report's array of strings, sorted (so that assertions print and compare plainly).
QStringList sortedStrings(const QJsonValue& array);

} // namespace testsupport

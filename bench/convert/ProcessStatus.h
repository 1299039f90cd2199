#pragma once

#include <QtGlobal>

// A figure of this process from /proc/self/status in KiB ("VmHWM" is the peak resident
// size), or -1 when it cannot be read.
qint64 processStatusKb(const char* field);

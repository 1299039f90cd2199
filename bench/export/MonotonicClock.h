#pragma once

#include <QtGlobal>

// Nanoseconds of the system's monotonic clock: one time line for every process on the
// machine, so that the extension's process and Mossbridge's can be compared.
qint64 monotonicNanoseconds();

#pragma once

#include <QByteArray>
#include <QString>

namespace fuzzsupport {

// Points HOME and the XDG folders at a fresh temporary folder, so that nothing a target does
// reaches the user's settings or vault. Call once, before any Qt object is made.
void isolateHome();

// Makes the process's QCoreApplication (one for the life of the process).
void makeApplication();

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace fuzzsupport

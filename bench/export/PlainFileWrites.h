#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The floor of the write phase: a folder for the note, an "assets" folder in it, every file
// created and written plainly with write(2), nothing synced; with `sync`, one syncfs(2) of the
// folder's file system after the lot. False on any failure.
bool writePlainly(const QString& folder, const QByteArray& noteBytes, const QMap<QString, QByteArray>& assets,
    bool sync);

#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What a desktop sees of an entry: the validator's verdict and where the icon theme finds the
// entry's icon. Independent of the code that writes them.
namespace desktopentry {

// desktop-file-validate's output for the file (empty: no error, warning or hint); nullopt when
// the tool is not installed.
std::optional<QString> validationReport(const QString& path);

// The value of a key in a group of a desktop-entry-style file ("" when absent).
QString value(const QString& text, const QString& key, const QString& group = QStringLiteral("Desktop Entry"));

// The file the hicolor theme finds for an icon name: each directory that hicolor's index.theme
// lists, under $XDG_DATA_HOME/icons and then each $XDG_DATA_DIRS/icons (their defaults when
// unset); "" when none holds it.
QString resolveIcon(const QString& name);

// Runs body with XDG_DATA_DIRS naming only the given folders and a system folder that holds
// the hicolor theme's index.theme (copied from /usr/share); false when there is none to copy.
bool withDataDirs(const QStringList& folders, const std::function<void()>& body);

} // namespace desktopentry

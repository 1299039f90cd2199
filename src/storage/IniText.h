#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

// The text of an INI settings file exactly as QSettings (IniFormat) writes it, for values as
// QSettings reads them, so that the settings file can be written through the checked writer
// and still be read by QSettings (this version's loader and older versions of the program).
// Qt offers no way to get that text without QSettings writing the file itself.
class IniText {
public:
    // Keys as QSettings names them ("section/key" for keys outside [General]).
    static QByteArray fromValues(const QMap<QString, QVariant>& values);
};

#pragma once

#include <QString>

// The folder inside the vault where notes go until the user names another one.
class DestinationFolder {
public:
    static QString defaultName() { return QStringLiteral("Mossbridge Inbox"); }
};

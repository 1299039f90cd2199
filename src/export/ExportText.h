#pragma once

#include "link/IpcMessage.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Small text and envelope helpers shared by the parts of the export controller.
class ExportText {
public:
    // An envelope from the app with the given type, command and request id.
    static IPCMessage appMessage(const QString& type, const QString& command, const QString& requestId);
    // Strict UTF-8: nothing when the bytes are not valid.
    static std::optional<QString> decodeUtf8(const QByteArray& bytes);
    // Whether decodeUtf8 would succeed, found without building the text.
    static bool isUtf8(const QByteArray& bytes);
    // Why a download failed whose request went to a connection that is gone.
    static QString connectionGone();
    // What an export without a vault is answered with.
    static QString configureVault();
};

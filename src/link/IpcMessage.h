#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The JSON envelope of every message between Mossbridge and the browser extension, and the
// records nested in it. Decoding is strict: required keys must be present and every value must
// have the exact JSON type of its field (an integer field rejects "3" and 3.5), at every level.
// Keys a record does not declare are ignored. Encoding writes only the fields that have a
// value, never null.

struct IPCError {
    QString message;

    QJsonObject toJson() const;
    static std::optional<IPCError> fromJson(const QJsonValue& value);
    bool operator==(const IPCError&) const = default;
};

struct SessionContext {
    qint64 tabId = 0;
    qint64 windowId = 0;
    std::optional<QString> status;

    QJsonObject toJson() const;
    static std::optional<SessionContext> fromJson(const QJsonValue& value);
    bool operator==(const SessionContext&) const = default;
};

struct UICommand {
    QString type;
    std::optional<QString> message;
    std::optional<qint64> current;
    std::optional<qint64> total;
    std::optional<qint64> autoHideMs;
    std::optional<QString> obsidianUrl;
    std::optional<QString> vaultName;
    std::optional<QString> filePath;
    std::optional<bool> showOpenButton;

    QJsonObject toJson() const;
    static std::optional<UICommand> fromJson(const QJsonValue& value);
    bool operator==(const UICommand&) const = default;
};

struct IPCArgs {
    std::optional<QString> chunkBase64;
    std::optional<qint64> chunkIndex;
    std::optional<qint64> totalChunks;
    std::optional<QString> filename;
    std::optional<QString> destDir;
    std::optional<QString> htmlRequestId;
    std::optional<QString> message;
    std::optional<QString> url;
    std::optional<QString> position;
    std::optional<double> value;
    std::optional<qint64> distancePx;
    std::optional<qint64> delayMs;
    std::optional<QString> selector;
    std::optional<QStringList> selectors;
    std::optional<qint64> delta;
    std::optional<bool> inContainer;
    std::optional<qint64> windowX;
    std::optional<qint64> windowY;
    std::optional<QString> token;
    std::optional<QString> origin;
    std::optional<bool> isBackground;
    std::optional<qint64> tabId;
    std::optional<qint64> windowId;
    std::optional<QString> chatTitle;
    std::optional<SessionContext> session;
    std::optional<UICommand> ui;
    std::optional<QString> vaultName;
    std::optional<QString> version;

    QJsonObject toJson() const;
    static std::optional<IPCArgs> fromJson(const QJsonValue& value);
    bool operator==(const IPCArgs&) const = default;
};

struct IPCMessage {
    QString version = QStringLiteral("1");
    QString request_id;
    std::optional<QString> source;
    QString type;
    QString command;
    std::optional<IPCArgs> args;
    std::optional<QMap<QString, QString>> result;
    std::optional<IPCError> error;

    QJsonObject toJson() const;
    static std::optional<IPCMessage> fromJson(const QJsonValue& value);

    // A version "1" envelope sent by `source` ("app", "extension").
    static IPCMessage make(const QString& source, const QString& type, const QString& command,
        const QString& requestId, std::optional<IPCArgs> args = std::nullopt);

    // Compact UTF-8 JSON text of the envelope.
    QByteArray encode() const;
    // Parses and strictly decodes one message; nothing when the bytes are not a valid envelope.
    static std::optional<IPCMessage> decode(const QByteArray& bytes);

    bool operator==(const IPCMessage&) const = default;
};

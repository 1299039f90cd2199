#pragma once

#include "link/Base64Text.h"
#include "link/SessionContext.h"
#include "link/UiCommand.h"
#include "link/WireCodec.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <tuple>

// The arguments of every command; each command uses a few of them.
struct IPCArgs {
    std::optional<Base64Text> chunkBase64;
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

    static constexpr auto wireFields()
    {
        return std::tuple {
            wireField("chunkBase64", &IPCArgs::chunkBase64),
            wireField("chunkIndex", &IPCArgs::chunkIndex),
            wireField("totalChunks", &IPCArgs::totalChunks),
            wireField("filename", &IPCArgs::filename),
            wireField("destDir", &IPCArgs::destDir),
            wireField("htmlRequestId", &IPCArgs::htmlRequestId),
            wireField("message", &IPCArgs::message),
            wireField("url", &IPCArgs::url),
            wireField("position", &IPCArgs::position),
            wireField("value", &IPCArgs::value),
            wireField("distancePx", &IPCArgs::distancePx),
            wireField("delayMs", &IPCArgs::delayMs),
            wireField("selector", &IPCArgs::selector),
            wireField("selectors", &IPCArgs::selectors),
            wireField("delta", &IPCArgs::delta),
            wireField("inContainer", &IPCArgs::inContainer),
            wireField("windowX", &IPCArgs::windowX),
            wireField("windowY", &IPCArgs::windowY),
            wireField("token", &IPCArgs::token),
            wireField("origin", &IPCArgs::origin),
            wireField("isBackground", &IPCArgs::isBackground),
            wireField("tabId", &IPCArgs::tabId),
            wireField("windowId", &IPCArgs::windowId),
            wireField("chatTitle", &IPCArgs::chatTitle),
            wireField("session", &IPCArgs::session),
            wireField("ui", &IPCArgs::ui),
            wireField("vaultName", &IPCArgs::vaultName),
            wireField("version", &IPCArgs::version),
        };
    }

    QJsonObject toJson() const { return WireCodec::write(*this); }
    static std::optional<IPCArgs> fromJson(const QJsonValue& value) { return WireCodec::read<IPCArgs>(value); }
    bool operator==(const IPCArgs&) const = default;
};

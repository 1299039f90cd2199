#pragma once

#include "link/WireCodec.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <tuple>

// What the extension shows on the page: progress, a success or an error.
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

    static constexpr auto wireFields()
    {
        return std::tuple {
            wireField("type", &UICommand::type),
            wireField("message", &UICommand::message),
            wireField("current", &UICommand::current),
            wireField("total", &UICommand::total),
            wireField("autoHideMs", &UICommand::autoHideMs),
            wireField("obsidianUrl", &UICommand::obsidianUrl),
            wireField("vaultName", &UICommand::vaultName),
            wireField("filePath", &UICommand::filePath),
            wireField("showOpenButton", &UICommand::showOpenButton),
        };
    }

    QJsonObject toJson() const { return WireCodec::write(*this); }
    static std::optional<UICommand> fromJson(const QJsonValue& value) { return WireCodec::read<UICommand>(value); }
    bool operator==(const UICommand&) const = default;
};

#pragma once

#include "link/WireCodec.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <tuple>

// The tab and window a request concerns, and the export's status there.
struct SessionContext {
    qint64 tabId = 0;
    qint64 windowId = 0;
    std::optional<QString> status;

    static constexpr auto wireFields()
    {
        return std::tuple {
            wireField("tabId", &SessionContext::tabId),
            wireField("windowId", &SessionContext::windowId),
            wireField("status", &SessionContext::status),
        };
    }

    QJsonObject toJson() const { return WireCodec::write(*this); }
    static std::optional<SessionContext> fromJson(const QJsonValue& value) { return WireCodec::read<SessionContext>(value); }
    bool operator==(const SessionContext&) const = default;
};

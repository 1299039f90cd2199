#pragma once

#include "link/WireCodec.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <tuple>

// The error of an "error" envelope.
struct IPCError {
    QString message;

    static constexpr auto wireFields() { return std::tuple {wireField("message", &IPCError::message)}; }

    QJsonObject toJson() const { return WireCodec::write(*this); }
    static std::optional<IPCError> fromJson(const QJsonValue& value) { return WireCodec::read<IPCError>(value); }
    bool operator==(const IPCError&) const = default;
};

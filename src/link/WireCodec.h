#pragma once

#include "link/Base64Text.h"
#include "link/WireField.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <tuple>
#include <utility>

// JSON reading and writing of the wire records, over their field lists.
//
// Reading is strict: a required key must be present and every value must have the exact JSON
// type of its field, at every level (an integer field takes a whole number that fits in 64
// bits, and rejects "3" and 3.5). An optional key that is absent or null reads as no value.
// Keys a record does not list are ignored. One failure anywhere drops the whole record.
//
// Writing puts every required field and only the optional fields that have a value, never null.
class WireCodec {
public:
    template <WireRecord Record>
    static QJsonObject write(const Record& record)
    {
        QJsonObject object;
        std::apply([&](const auto&... field) { (writeField(object, field, record), ...); }, Record::wireFields());
        return object;
    }

    template <WireRecord Record>
    static std::optional<Record> read(const QJsonValue& value)
    {
        if (!value.isObject()) {
            return std::nullopt;
        }
        Record record;
        if (!readFields(value.toObject(), record)) {
            return std::nullopt;
        }
        return record;
    }

    // One value of a field's type: true when `value` has exactly that JSON type.
    static bool readValue(QJsonValueConstRef value, QString& out);
    static bool readValue(QJsonValueConstRef value, qint64& out);
    static bool readValue(QJsonValueConstRef value, double& out);
    static bool readValue(QJsonValueConstRef value, bool& out);
    static bool readValue(QJsonValueConstRef value, QStringList& out);
    static bool readValue(QJsonValueConstRef value, QMap<QString, QString>& out);
    static bool readValue(QJsonValueConstRef value, Base64Text& out);
    template <WireRecord Record>
    static bool readValue(QJsonValueConstRef value, Record& out)
    {
        return value.isObject() && readFields(value.toObject(), out);
    }

    static QJsonValue writeValue(const QString& value);
    static QJsonValue writeValue(qint64 value);
    static QJsonValue writeValue(double value);
    static QJsonValue writeValue(bool value);
    static QJsonValue writeValue(const QStringList& value);
    static QJsonValue writeValue(const QMap<QString, QString>& value);
    static QJsonValue writeValue(const Base64Text& value);
    template <WireRecord Record>
    static QJsonValue writeValue(const Record& value)
    {
        return write(value);
    }

private:
    template <WireRecord Record>
    static bool readFields(const QJsonObject& object, Record& record)
    {
        static_assert(wireKeysDistinct<Record>(), "two fields of a wire record share a key");
        return std::apply([&](const auto&... field) { return (readField(object, field, record) && ...); },
            Record::wireFields());
    }

    template <typename Record, typename Member>
    static bool readField(const QJsonObject& object, const WireField<Record, Member>& field, Record& record)
    {
        // The value is looked at where it lies in the parsed document: a chunk's text is
        // megabytes long and is not copied before it is known to be wanted.
        const auto it = object.constFind(field.key);
        Member& out = record.*field.member;
        if constexpr (IsOptionalWireValue<Member>::value) {
            if (it == object.constEnd() || it.value().isNull()) {
                return true;
            }
            typename Member::value_type value {};
            if (!readValue(it.value(), value)) {
                return false;
            }
            out = std::move(value);
            return true;
        } else {
            return it != object.constEnd() && readValue(it.value(), out);
        }
    }

    template <typename Record, typename Member>
    static void writeField(QJsonObject& object, const WireField<Record, Member>& field, const Record& record)
    {
        const Member& value = record.*field.member;
        if constexpr (IsOptionalWireValue<Member>::value) {
            if (value) {
                object.insert(field.key, writeValue(*value));
            }
        } else {
            object.insert(field.key, writeValue(value));
        }
    }
};

#include "link/WireCodec.h"

#include <QJsonArray>

#include <limits>

namespace {

// Sets `out` from `read` when the value has the field's JSON type.
template <typename T, typename Read>
bool readWhen(bool hasType, T& out, Read read)
{
    if (hasType) {
        out = read();
    }
    return hasType;
}

} // namespace

bool WireCodec::readValue(QJsonValueConstRef value, QString& out)
{
    return readWhen(value.isString(), out, [&] { return value.toString(); });
}

bool WireCodec::readValue(QJsonValueConstRef value, qint64& out)
{
    // JSON numbers are doubles in Qt's model; an integer field takes a whole number that fits
    // in 64 bits, like a plain JSON decoder would, and nothing else.
    if (!value.isDouble()) {
        return false;
    }
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 n = value.toInteger(sentinel);
    // The sentinel itself is a valid value only when it really is the number.
    if (n == sentinel && value.toDouble() != -9223372036854775808.0) {
        return false;
    }
    out = n;
    return true;
}

bool WireCodec::readValue(QJsonValueConstRef value, double& out)
{
    return readWhen(value.isDouble(), out, [&] { return value.toDouble(); });
}

bool WireCodec::readValue(QJsonValueConstRef value, bool& out)
{
    return readWhen(value.isBool(), out, [&] { return value.toBool(); });
}

bool WireCodec::readValue(QJsonValueConstRef value, QStringList& out)
{
    if (!value.isArray()) {
        return false;
    }
    const QJsonArray array = value.toArray();
    QStringList list;
    list.reserve(array.size());
    for (const QJsonValue& item : array) {
        if (!item.isString()) {
            return false;
        }
        list.append(item.toString());
    }
    out = std::move(list);
    return true;
}

bool WireCodec::readValue(QJsonValueConstRef value, QMap<QString, QString>& out)
{
    if (!value.isObject()) {
        return false;
    }
    const QJsonObject object = value.toObject();
    QMap<QString, QString> map;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString()) {
            return false;
        }
        map.insert(it.key(), it.value().toString());
    }
    out = std::move(map);
    return true;
}

bool WireCodec::readValue(QJsonValueConstRef value, Base64Text& out)
{
    return readWhen(value.isString(), out, [&] { return Base64Text(value.toString()); });
}

QJsonValue WireCodec::writeValue(const QString& value)
{
    return value;
}

QJsonValue WireCodec::writeValue(qint64 value)
{
    return value;
}

QJsonValue WireCodec::writeValue(double value)
{
    return value;
}

QJsonValue WireCodec::writeValue(bool value)
{
    return value;
}

QJsonValue WireCodec::writeValue(const QStringList& value)
{
    return QJsonArray::fromStringList(value);
}

QJsonValue WireCodec::writeValue(const QMap<QString, QString>& value)
{
    QJsonObject object;
    for (auto it = value.constBegin(); it != value.constEnd(); ++it) {
        object.insert(it.key(), it.value());
    }
    return object;
}

QJsonValue WireCodec::writeValue(const Base64Text& value)
{
    return value.toString();
}

#include "storage/IniText.h"

#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

#include <utility>

// The rules below are those of QSettings' INI writer; QSettings' reader undoes them.

namespace {

char hexDigit(uint value)
{
    return "0123456789ABCDEF"[value & 0xF];
}

// Letters, digits, "_", "-" and "." stay; "/" becomes "\"; anything else is %XX or %UXXXX.
void appendEscapedKey(const QString& key, QByteArray& out)
{
    for (const QChar qch : key) {
        const uint ch = qch.unicode();
        if (ch == '/') {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'
            || ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            out += hexDigit(ch >> 4);
            out += hexDigit(ch);
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out += hexDigit(ch >> shift);
            }
        }
    }
}

bool isHexDigit(uint ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

// C-style escapes for controls, quotes and backslashes; the rest as UTF-8, except in the
// Latin-1 forms of binary values, where bytes from 0x7F up are escaped too. Quoted when it holds
// ";", "," or "=" or starts or ends with a space.
void appendEscapedString(const QString& text, QByteArray& out)
{
    const bool asUtf8 = !(text.startsWith(QLatin1String("@ByteArray(")) || text.startsWith(QLatin1String("@Variant("))
        || text.startsWith(QLatin1String("@DateTime(")));
    const qsizetype start = out.size();
    bool needsQuotes = false;
    // After a numeric escape a hex digit would be read as part of it, so it is escaped too.
    bool escapeHexDigit = false;
    QString plain; // a run of characters written as they are, encoded at once
    const auto flushPlain = [&] {
        out += plain.toUtf8();
        plain.clear();
    };
    for (const QChar qch : text) {
        const uint ch = qch.unicode();
        if (ch == ';' || ch == ',' || ch == '=') {
            needsQuotes = true;
        }
        if (escapeHexDigit && isHexDigit(ch)) {
            flushPlain();
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeHexDigit = false;
        const char* named = nullptr;
        switch (ch) {
        case '\0': named = "\\0"; escapeHexDigit = true; break;
        case '\a': named = "\\a"; break;
        case '\b': named = "\\b"; break;
        case '\f': named = "\\f"; break;
        case '\n': named = "\\n"; break;
        case '\r': named = "\\r"; break;
        case '\t': named = "\\t"; break;
        case '\v': named = "\\v"; break;
        case '"': named = "\\\""; break;
        case '\\': named = "\\\\"; break;
        default: break;
        }
        if (named != nullptr) {
            flushPlain();
            out += named;
        } else if (ch <= 0x1F || (ch >= 0x7F && !asUtf8)) {
            flushPlain();
            out += "\\x" + QByteArray::number(ch, 16);
            escapeHexDigit = true;
        } else {
            plain += qch;
        }
    }
    flushPlain();
    if (needsQuotes || (out.size() > start && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

QString latin1Text(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

// A value as one string, with QSettings' "@" forms for what is not plain text.
QString valueText(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray:
        return QStringLiteral("@ByteArray(") + latin1Text(value.toByteArray()) + QLatin1Char(')');
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
    case QMetaType::Float:
    case QMetaType::Double: {
        const QString text = value.toString();
        if (text.contains(QChar::Null)) {
            return QStringLiteral("@String(") + text + QLatin1Char(')');
        }
        return text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    }
    case QMetaType::QRect: {
        const QRect r = value.toRect();
        return QString::asprintf("@Rect(%d %d %d %d)", r.x(), r.y(), r.width(), r.height());
    }
    case QMetaType::QSize: {
        const QSize size = value.toSize();
        return QString::asprintf("@Size(%d %d)", size.width(), size.height());
    }
    case QMetaType::QPoint: {
        const QPoint point = value.toPoint();
        return QString::asprintf("@Point(%d %d)", point.x(), point.y());
    }
    default: {
        // Anything else (a date, a list of one) as QSettings keeps it: the value's data stream.
        const bool isDateTime = value.metaType().id() == QMetaType::QDateTime;
        QByteArray stream;
        {
            QDataStream out(&stream, QIODevice::WriteOnly);
            out.setVersion(isDateTime ? QDataStream::Qt_5_6 : QDataStream::Qt_4_0);
            out << value;
        }
        return (isDateTime ? QStringLiteral("@DateTime(") : QStringLiteral("@Variant(")) + latin1Text(stream)
            + QLatin1Char(')');
    }
    }
}

void appendValue(const QVariant& value, QByteArray& out)
{
    const int type = value.metaType().id();
    // A one-element variant list is kept as a single streamed value, as QSettings does.
    if (type == QMetaType::QStringList || (type == QMetaType::QVariantList && value.toList().size() != 1)) {
        const QVariantList items = value.toList();
        if (items.isEmpty()) {
            out += "@Invalid()";
            return;
        }
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (i != 0) {
                out += ", ";
            }
            appendEscapedString(valueText(items.at(i)), out);
        }
        return;
    }
    appendEscapedString(valueText(value), out);
}

} // namespace

QByteArray IniText::fromValues(const QMap<QString, QVariant>& values)
{
    // Section name -> its keys; "" (the [General] section) sorts first.
    QMap<QString, QList<std::pair<QString, QVariant>>> sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section].append({slash < 0 ? it.key() : it.key().mid(slash + 1), it.value()});
    }
    QByteArray out;
    for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
        if (!out.isEmpty()) {
            out += '\n';
        }
        QByteArray name;
        appendEscapedKey(section.key(), name);
        if (name.isEmpty()) {
            out += "[General]\n";
        } else if (name.compare("general", Qt::CaseInsensitive) == 0) {
            out += "[%General]\n";
        } else {
            out += '[' + name + "]\n";
        }
        for (const auto& [key, value] : section.value()) {
            appendEscapedKey(key, out);
            out += '=';
            appendValue(value, out);
            out += '\n';
        }
    }
    return out;
}

#include "convert/MarkdownEscaping.h"

namespace {

void appendPercentEncoded(QString& out, char16_t c)
{
    static const char hex[] = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(hex[(c >> 4) & 0xF]);
    out += QLatin1Char(hex[c & 0xF]);
}

} // namespace

QString MarkdownEscaping::linkDestination(QStringView address)
{
    QString out;
    out.reserve(address.size());
    for (const QChar ch : address) {
        const char16_t c = ch.unicode();
        if (c <= 0x20 || c == 0x7F || c == u'<' || c == u'>' || c == u'(' || c == u')') {
            appendPercentEncoded(out, c);
        } else if (c == u'\\') {
            out += QLatin1String("\\\\");
        } else {
            out += ch;
        }
    }
    return out;
}

QString MarkdownEscaping::linkText(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        if (ch == QLatin1Char('[') || ch == QLatin1Char(']') || ch == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
        }
        out += ch;
    }
    return out;
}

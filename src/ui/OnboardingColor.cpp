#include "ui/OnboardingColor.h"

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    return -1;
}

// Reads the leading hexadecimal digits (after an optional "0x"), as a scanner does: what
// follows the first non-digit is ignored, and no digit at all reads as 0.
quint64 scanHex(QStringView text)
{
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') && hexDigit(text[2]) >= 0) {
        text = text.mid(2);
    }
    quint64 value = 0;
    for (QChar c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            break;
        }
        value = (value << 4) | static_cast<quint64>(digit);
    }
    return value;
}

} // namespace

OnboardingColor::OnboardingColor(QObject* parent)
    : QObject(parent)
{
}

QColor OnboardingColor::fromHex(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && !text[begin].isLetterOrNumber()) {
        ++begin;
    }
    while (end > begin && !text[end - 1].isLetterOrNumber()) {
        --end;
    }
    const QStringView digits = QStringView(text).mid(begin, end - begin);
    const quint64 value = scanHex(digits);
    auto part = [value](int shift) { return static_cast<int>((value >> shift) & 0xff); };
    switch (digits.size()) {
    case 8:
        return QColor(part(16), part(8), part(0), part(24));
    case 6:
        return QColor(part(16), part(8), part(0), 255);
    case 3:
        return QColor(static_cast<int>((value >> 8) & 0xf) * 17, static_cast<int>((value >> 4) & 0xf) * 17,
            static_cast<int>(value & 0xf) * 17, 255);
    default:
        return QColor::fromRgbF(1.0f, 1.0f, 0.0f, 1.0f);
    }
}

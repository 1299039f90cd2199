#include "link/Base64.h"

#include <array>
#include <type_traits>

namespace {

constexpr quint8 invalid = 0xff;

constexpr std::array<quint8, 256> makeTable()
{
    std::array<quint8, 256> table {};
    for (auto& entry : table) {
        entry = invalid;
    }
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (quint8 i = 0; i < 64; ++i) {
        table[static_cast<quint8>(alphabet[i])] = i;
    }
    return table;
}

constexpr std::array<quint8, 256> table = makeTable();

// Works on UTF-16 code units and on bytes alike; a unit above 0xff is never valid.
template <typename Unit>
std::optional<QByteArray> decodeUnits(const Unit* text, qsizetype length)
{
    if (length % 4 != 0) {
        return std::nullopt;
    }
    if (length == 0) {
        return QByteArray();
    }
    qsizetype padding = 0;
    if (text[length - 1] == '=') {
        padding = text[length - 2] == '=' ? 2 : 1;
    }

    const auto lookup = [](Unit unit) -> quint32 {
        const auto code = static_cast<std::make_unsigned_t<Unit>>(unit);
        return code > 0xff ? invalid : table[code];
    };

    QByteArray out(length / 4 * 3 - padding, Qt::Uninitialized);
    auto* dst = reinterpret_cast<quint8*>(out.data());

    const qsizetype fullQuads = (length - (padding ? 4 : 0)) / 4;
    quint32 bad = 0;
    for (qsizetype q = 0; q < fullQuads; ++q) {
        const Unit* src = text + q * 4;
        const quint32 a = lookup(src[0]);
        const quint32 b = lookup(src[1]);
        const quint32 c = lookup(src[2]);
        const quint32 d = lookup(src[3]);
        bad |= a | b | c | d; // any invalid entry sets bit 7
        const quint32 bits = (a << 18) | (b << 12) | (c << 6) | d;
        dst[0] = static_cast<quint8>(bits >> 16);
        dst[1] = static_cast<quint8>(bits >> 8);
        dst[2] = static_cast<quint8>(bits);
        dst += 3;
    }
    if (bad & 0x80) {
        return std::nullopt;
    }

    if (padding) {
        const Unit* src = text + length - 4;
        const quint32 a = lookup(src[0]);
        const quint32 b = lookup(src[1]);
        const quint32 c = padding == 2 ? 0 : lookup(src[2]);
        if ((a | b | c) & 0x80) {
            return std::nullopt;
        }
        const quint32 bits = (a << 18) | (b << 12) | (c << 6);
        dst[0] = static_cast<quint8>(bits >> 16);
        if (padding == 1) {
            dst[1] = static_cast<quint8>(bits >> 8);
        }
    }
    return out;
}

} // namespace

std::optional<QByteArray> Base64::decode(QStringView text)
{
    return decodeUnits(text.utf16(), text.size());
}

std::optional<QByteArray> Base64::decode(QByteArrayView text)
{
    return decodeUnits(text.data(), text.size());
}

std::optional<QByteArray> Base64::decode(const Base64Text& text)
{
    if (text.decoded()) {
        return text.decoded();
    }
    return text.visit([](auto view) { return decode(view); });
}

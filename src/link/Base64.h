#pragma once

#include "link/Base64Text.h"

#include <QByteArray>
#include <QStringView>

#include <optional>

// Strict base64 (RFC 4648 alphabet, padded): the text's length is a multiple of four, it holds
// only alphabet characters and at most two '=' at the very end. Anything else is refused
// rather than skipped, so a damaged chunk is noticed instead of silently shortened.
// Much faster than QByteArray::fromBase64, which matters for multi-megabyte chunks.
class Base64 {
public:
    static std::optional<QByteArray> decode(QStringView text);
    static std::optional<QByteArray> decode(QByteArrayView text);
    // A chunk's text decoded on arrival is not decoded again.
    static std::optional<QByteArray> decode(const Base64Text& text);
};

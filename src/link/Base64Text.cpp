#include "link/Base64Text.h"

#include <QLatin1StringView>

Base64Text::Base64Text(const QString& text)
    : text_(text)
{
}

Base64Text::Base64Text(const char* text)
    : text_(QString::fromUtf8(text))
{
}

Base64Text Base64Text::inMessage(const QByteArray& message, qsizetype offset, qsizetype size,
    std::optional<QByteArray> decoded)
{
    Base64Text text;
    text.isSpan_ = true;
    QByteArray shared = message;
    if (shared.data_ptr().isMutable()) {
        text.message_ = std::move(shared);
        text.offset_ = offset;
    } else {
        // Bytes the array does not own (fromRawData) may be gone before the text is read.
        text.message_ = QByteArray(message.constData() + offset, size);
    }
    text.size_ = size;
    text.decoded_ = std::move(decoded);
    return text;
}

bool Base64Text::isEmpty() const
{
    return isSpan_ ? size_ == 0 : text_.isEmpty();
}

QString Base64Text::toString() const
{
    return isSpan_ ? QString::fromLatin1(span()) : text_;
}

// The decoded bytes follow from the text; only the text counts.
bool Base64Text::operator==(const Base64Text& other) const
{
    if (isSpan_ != other.isSpan_) {
        // A span holds printable ASCII only, which reads the same as Latin-1.
        const Base64Text& span = isSpan_ ? *this : other;
        const Base64Text& string = isSpan_ ? other : *this;
        return QLatin1StringView(span.span()) == string.text_;
    }
    return isSpan_ ? span() == other.span() : text_ == other.text_;
}

QByteArrayView Base64Text::span() const
{
    return QByteArrayView(message_).sliced(offset_, size_);
}

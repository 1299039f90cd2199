#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The text of a base64 field. A received chunk keeps its text where it arrived, as a span of
// the message's UTF-8 bytes, with the bytes it decodes to when they were decoded on arrival:
// a chunk is almost all of its message, megabytes long, and is wanted only decoded. Text set
// in code is held as a QString. Either way it is the same text: it compares, and is written,
// by its characters.
class Base64Text {
public:
    Base64Text() = default;
    // Not explicit: the field is assigned like the string it is.
    Base64Text(const QString& text);
    Base64Text(const char* text); // UTF-8

    // `size` bytes of `message` from `offset`, all printable ASCII; shares the message's bytes.
    // `decoded`, when given, is what they decode to.
    static Base64Text inMessage(const QByteArray& message, qsizetype offset, qsizetype size,
        std::optional<QByteArray> decoded = std::nullopt);

    bool isEmpty() const;
    QString toString() const;
    // The decoded bytes, when decoded on arrival; see Base64::decode.
    const std::optional<QByteArray>& decoded() const { return decoded_; }

    // Calls `fn` with the text as a QByteArrayView (a span of a message) or a QStringView.
    template <typename Fn>
    auto visit(Fn&& fn) const
    {
        return isSpan_ ? fn(span()) : fn(QStringView(text_));
    }

    bool operator==(const Base64Text& other) const;

private:
    QByteArrayView span() const;

    QString text_;
    QByteArray message_;
    qsizetype offset_ = 0;
    qsizetype size_ = 0;
    bool isSpan_ = false;
    std::optional<QByteArray> decoded_;
};

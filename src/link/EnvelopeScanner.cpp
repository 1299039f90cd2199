#include "link/EnvelopeScanner.h"

#include "link/IpcMessage.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool isPlain(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f && u != '"' && u != '\\';
}

QByteArrayView bytesOf(QLatin1StringView key)
{
    return QByteArrayView(key.data(), key.size());
}

// Walks JSON text as any JSON parser tokenizes it, without checking what it skips. On valid
// JSON it finds the members where they are; on anything else its answer does not matter, as
// the strict parse refuses the text either way.
class Cursor {
public:
    explicit Cursor(QByteArrayView text)
        : text_(text)
    {
    }

    bool consume(char c)
    {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool atEnd()
    {
        skipSpace();
        return at_ == text_.size();
    }

    // Calls `member(key)` with the cursor at each value of the object here; it must move past
    // the value, or return false to end the walk. False as well for a key with an escape.
    template <typename Member>
    bool object(Member&& member)
    {
        if (!consume('{')) {
            return false;
        }
        if (consume('}')) {
            return true;
        }
        do {
            const std::optional<QByteArrayView> key = keyWithoutEscapes();
            if (!key || !consume(':') || !member(*key)) {
                return false;
            }
        } while (consume(','));
        return consume('}');
    }

    // Moves past one value of any kind.
    bool skipValue()
    {
        skipSpace();
        if (at_ == text_.size()) {
            return false;
        }
        const char c = text_[at_];
        if (c == '"') {
            return skipString();
        }
        if (c == '{' || c == '[') {
            return skipContainer();
        }
        const qsizetype start = at_;
        while (at_ < text_.size() && !isDelimiter(text_[at_])) {
            ++at_;
        }
        return at_ > start;
    }

    // The text of the string value here, up to the first quote after the opening one.
    std::optional<EnvelopeScanner::Span> stringUpToFirstQuote()
    {
        skipSpace();
        if (at_ == text_.size() || text_[at_] != '"') {
            return std::nullopt;
        }
        const qsizetype offset = at_ + 1;
        const char* begin = text_.data() + offset;
        const void* quote = std::memchr(begin, '"', std::size_t(text_.size() - offset));
        if (quote == nullptr) {
            return std::nullopt;
        }
        const qsizetype size = static_cast<const char*>(quote) - begin;
        at_ = offset + size + 1;
        return EnvelopeScanner::Span {offset, size};
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    static bool isDelimiter(char c) { return isSpace(c) || c == ',' || c == '}' || c == ']'; }

    void skipSpace()
    {
        while (at_ < text_.size() && isSpace(text_[at_])) {
            ++at_;
        }
    }

    std::optional<QByteArrayView> keyWithoutEscapes()
    {
        skipSpace();
        if (at_ == text_.size() || text_[at_] != '"') {
            return std::nullopt;
        }
        const qsizetype start = at_ + 1;
        for (qsizetype i = start; i < text_.size(); ++i) {
            if (text_[i] == '\\') {
                return std::nullopt;
            }
            if (text_[i] == '"') {
                at_ = i + 1;
                return text_.sliced(start, i - start);
            }
        }
        return std::nullopt;
    }

    // From the opening quote to past the closing one; a backslash takes the next byte along.
    bool skipString()
    {
        for (qsizetype i = at_ + 1; i < text_.size(); ++i) {
            if (text_[i] == '\\') {
                ++i;
            } else if (text_[i] == '"') {
                at_ = i + 1;
                return true;
            }
        }
        return false;
    }

    bool skipContainer()
    {
        qsizetype depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                if (!skipString()) {
                    return false;
                }
                continue;
            }
            ++at_;
            if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                return true;
            }
        }
        return false;
    }

    QByteArrayView text_;
    qsizetype at_ = 0;
};

} // namespace

std::optional<EnvelopeScanner::Span> EnvelopeScanner::findChunkText(QByteArrayView message)
{
    static constexpr QLatin1StringView argsKey = wireKey(&IPCMessage::args);
    static constexpr QLatin1StringView chunkKey = wireKey(&IPCArgs::chunkBase64);
    static_assert(argsKey.size() > 0 && chunkKey.size() > 0);

    Cursor cursor(message);
    std::optional<Span> chunk;
    bool sawArgs = false;
    const bool plainShape = cursor.object([&](QByteArrayView key) {
        if (key != bytesOf(argsKey)) {
            return cursor.skipValue();
        }
        if (std::exchange(sawArgs, true)) {
            return false; // the parse keeps the last one
        }
        bool sawChunk = false;
        return cursor.object([&](QByteArrayView argsMember) {
            if (argsMember != bytesOf(chunkKey)) {
                return cursor.skipValue();
            }
            if (std::exchange(sawChunk, true)) {
                return false;
            }
            chunk = cursor.stringUpToFirstQuote();
            return chunk.has_value();
        });
    });
    if (!plainShape || !cursor.atEnd()) {
        return std::nullopt;
    }
    return chunk;
}

bool EnvelopeScanner::isPlainText(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), isPlain);
}

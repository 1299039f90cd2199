#include "convert/HtmlTagScanner.h"

#include <cstring>

namespace {

// The tokenizer's whitespace; a carriage return counts, as input preprocessing turns it into
// a line feed.
bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Walks the attributes of a tag from `p` to the tag's closing ">" as the tokenizer's
// attribute states do. `visit(name, value)` sees each attribute. Returns the offset of the
// ">" (or `end` when the input ends inside the tag) and whether the tag ends with "/>".
template <typename Visit>
std::size_t walkAttributes(const char* s, std::size_t p, std::size_t end, bool& selfClosing, Visit&& visit)
{
    selfClosing = false;
    while (p < end) {
        const char c = s[p];
        if (isSpace(c)) {
            ++p;
            continue;
        }
        if (c == '>')
            return p;
        if (c == '/') {
            if (p + 1 < end && s[p + 1] == '>') {
                selfClosing = true;
                return p + 1;
            }
            ++p;   // a stray slash is dropped
            continue;
        }
        // A name runs to whitespace, "/", ">" or "="; a leading "=" belongs to it.
        const std::size_t nameStart = p;
        ++p;
        while (p < end && !isSpace(s[p]) && s[p] != '/' && s[p] != '>' && s[p] != '=')
            ++p;
        const std::string_view name(s + nameStart, p - nameStart);
        while (p < end && isSpace(s[p]))
            ++p;
        std::string_view value;
        if (p < end && s[p] == '=') {
            ++p;
            while (p < end && isSpace(s[p]))
                ++p;
            if (p < end && (s[p] == '"' || s[p] == '\'')) {
                const char quote = s[p];
                const std::size_t valueStart = ++p;
                const void* close = std::memchr(s + p, quote, end - p);
                if (!close)
                    return end;
                p = std::size_t(static_cast<const char*>(close) - s);
                value = std::string_view(s + valueStart, p - valueStart);
                ++p;
            } else {
                const std::size_t valueStart = p;
                while (p < end && !isSpace(s[p]) && s[p] != '>')
                    ++p;
                value = std::string_view(s + valueStart, p - valueStart);
            }
        }
        visit(name, value);
    }
    return end;
}

} // namespace

HtmlTagScanner::HtmlTagScanner(std::string_view input)
    : data_(input.data())
    , size_(input.size())
{
}

void HtmlTagScanner::enterTextMode(TextMode mode, std::string_view endTagName)
{
    textMode_ = true;
    mode_ = mode;
    modeName_ = endTagName;
}

HtmlTagToken HtmlTagScanner::next(bool cdata)
{
    HtmlTagToken token;
    if (textMode_) {
        textMode_ = false;
        std::size_t end = size_;
        if (mode_ == TextMode::ScriptData)
            end = findScriptEnd(pos_);
        else if (mode_ != TextMode::PlainText)
            end = findEndTag(pos_, modeName_);
        if (end > pos_) {
            HtmlTagToken text = textUpTo(end);
            text.elementText = true;
            return text;
        }
    }
    if (pos_ >= size_) {
        token.begin = token.end = size_;
        return token;
    }
    const char* s = data_;
    if (s[pos_] != '<' || pos_ + 1 >= size_)
        return scanText(pos_ + 1);
    const char c = s[pos_ + 1];
    if (isAlpha(c))
        return scanTag(HtmlTagToken::Kind::StartTag, pos_ + 1);
    if (c == '/') {
        if (pos_ + 2 >= size_)
            return scanText(pos_ + 1);
        if (isAlpha(s[pos_ + 2]))
            return scanTag(HtmlTagToken::Kind::EndTag, pos_ + 2);
        if (s[pos_ + 2] == '>') {
            token.kind = HtmlTagToken::Kind::Other;
            token.begin = pos_;
            token.end = pos_ += 3;
            return token;
        }
        return scanUntil(pos_ + 2, ">");
    }
    if (c == '!') {
        const std::string_view rest(s + pos_, size_ - pos_);
        if (rest.substr(0, 4) == "<!--")
            return scanComment();
        if (cdata && rest.substr(0, 9) == "<![CDATA[") {
            // Its content is text, as if written outside.
            HtmlTagToken section = scanUntil(pos_ + 9, "]]>");
            section.kind = HtmlTagToken::Kind::Text;
            section.whitespace = true;
            for (std::size_t i = section.begin + 9; i < section.end && i + 3 <= section.end; ++i) {
                if (!isSpace(data_[i])) {
                    section.whitespace = false;
                    break;
                }
            }
            return section;
        }
        HtmlTagToken declaration = scanUntil(pos_ + 2, ">");   // a doctype or a bogus comment
        if (nameAt(declaration.begin + 2, "doctype"))
            declaration.kind = HtmlTagToken::Kind::Doctype;
        return declaration;
    }
    if (c == '?')
        return scanUntil(pos_ + 1, ">");
    return scanText(pos_ + 1);   // a "<" that opens nothing is text
}

HtmlTagToken HtmlTagScanner::scanText(std::size_t from)
{
    const void* lt = from < size_ ? std::memchr(data_ + from, '<', size_ - from) : nullptr;
    return textUpTo(lt ? std::size_t(static_cast<const char*>(lt) - data_) : size_);
}

HtmlTagToken HtmlTagScanner::textUpTo(std::size_t end)
{
    HtmlTagToken token;
    token.kind = HtmlTagToken::Kind::Text;
    token.begin = pos_;
    token.end = end;
    token.whitespace = true;
    for (std::size_t i = pos_; i < end; ++i) {
        if (!isSpace(data_[i])) {
            token.whitespace = false;
            break;
        }
    }
    pos_ = end;
    return token;
}

HtmlTagToken HtmlTagScanner::scanTag(HtmlTagToken::Kind kind, std::size_t nameStart)
{
    HtmlTagToken token;
    token.kind = kind;
    token.begin = pos_;
    const char* s = data_;
    std::size_t p = nameStart;
    while (p < size_ && !isSpace(s[p]) && s[p] != '/' && s[p] != '>')
        ++p;
    token.name = std::string_view(s + nameStart, p - nameStart);
    const std::size_t attributesStart = p;
    bool selfClosing = false;
    const std::size_t close = walkAttributes(s, p, size_, selfClosing, [](std::string_view, std::string_view) {});
    if (close >= size_) {
        // The input ends inside the tag: the tokenizer drops it.
        token.kind = HtmlTagToken::Kind::Other;
        token.name = {};
        token.end = pos_ = size_;
        return token;
    }
    token.selfClosing = selfClosing;
    token.attributes = std::string_view(s + attributesStart, (selfClosing ? close - 1 : close) - attributesStart);
    token.tag = gumbo_tagn_enum(token.name.data(), unsigned(token.name.size()));
    token.end = pos_ = close + 1;
    return token;
}

HtmlTagToken HtmlTagScanner::scanComment()
{
    // The comment states after "<!--": "<!-->" and "<!--->" are whole comments; otherwise
    // the comment ends at "--" (any further dashes) followed by ">", or "--!>".
    enum class State { Start, StartDash, Comment, EndDash, End, EndBang };
    HtmlTagToken token;
    token.kind = HtmlTagToken::Kind::Other;
    token.begin = pos_;
    State state = State::Start;
    std::size_t p = pos_ + 4;
    for (; p < size_; ++p) {
        const char c = data_[p];
        switch (state) {
        case State::Start:
        case State::StartDash:
            if (c == '>') {
                token.end = pos_ = p + 1;
                return token;
            }
            state = c != '-' ? State::Comment : state == State::Start ? State::StartDash : State::End;
            break;
        case State::Comment:
            if (c == '-')
                state = State::EndDash;
            break;
        case State::EndDash:
            state = c == '-' ? State::End : State::Comment;
            break;
        case State::End:
            if (c == '>') {
                token.end = pos_ = p + 1;
                return token;
            }
            if (c == '!')
                state = State::EndBang;
            else if (c != '-')
                state = State::Comment;
            break;
        case State::EndBang:
            if (c == '>') {
                token.end = pos_ = p + 1;
                return token;
            }
            state = c == '-' ? State::EndDash : State::Comment;
            break;
        }
    }
    token.end = pos_ = size_;
    return token;
}

HtmlTagToken HtmlTagScanner::scanUntil(std::size_t from, std::string_view terminator)
{
    HtmlTagToken token;
    token.kind = HtmlTagToken::Kind::Other;
    token.begin = pos_;
    const std::string_view rest = from < size_ ? std::string_view(data_ + from, size_ - from) : std::string_view();
    const std::size_t found = rest.find(terminator);
    token.end = pos_ = found == std::string_view::npos ? size_ : from + found + terminator.size();
    return token;
}

bool HtmlTagScanner::nameAt(std::size_t at, std::string_view name) const
{
    if (at + name.size() > size_)
        return false;
    return equalsIgnoringCase(std::string_view(data_ + at, name.size()), name);
}

// "</name" followed by whitespace, "/" or ">": the end tag of a raw text element.
bool HtmlTagScanner::endTagAt(std::size_t at, std::string_view name) const
{
    if (at + 2 + name.size() >= size_ || data_[at] != '<' || data_[at + 1] != '/')
        return false;
    if (!nameAt(at + 2, name))
        return false;
    const char after = data_[at + 2 + name.size()];
    return isSpace(after) || after == '/' || after == '>';
}

std::size_t HtmlTagScanner::findEndTag(std::size_t from, std::string_view name) const
{
    std::size_t p = from;
    while (p < size_) {
        const void* lt = std::memchr(data_ + p, '<', size_ - p);
        if (!lt)
            return size_;
        p = std::size_t(static_cast<const char*>(lt) - data_);
        if (endTagAt(p, name))
            return p;
        ++p;
    }
    return size_;
}

// Script data with its escape states: inside "<!--" a "<script" starts a double-escaped
// part, where "</script>" only ends that part.
std::size_t HtmlTagScanner::findScriptEnd(std::size_t from) const
{
    enum class State { Data, Escaped, DoubleEscaped };
    const std::string_view script("script");
    State state = State::Data;
    std::size_t dashes = 0;   // "-" just before, in the escaped states
    const char* s = data_;
    std::size_t p = from;
    while (p < size_) {
        const char c = s[p];
        if (state == State::Data) {
            const void* lt = std::memchr(s + p, '<', size_ - p);
            if (!lt)
                return size_;
            p = std::size_t(static_cast<const char*>(lt) - s);
            if (endTagAt(p, script))
                return p;
            if (p + 3 < size_ && s[p + 1] == '!' && s[p + 2] == '-' && s[p + 3] == '-') {
                state = State::Escaped;
                dashes = 2;
                p += 4;
                continue;
            }
            ++p;
            continue;
        }
        if (c == '-') {
            ++dashes;
            ++p;
            continue;
        }
        if (c == '>' && dashes >= 2) {
            state = State::Data;
            dashes = 0;
            ++p;
            continue;
        }
        dashes = 0;
        if (c == '<') {
            if (state == State::Escaped) {
                if (endTagAt(p, script))
                    return p;
                if (nameAt(p + 1, script) && p + 1 + script.size() < size_) {
                    const char after = s[p + 1 + script.size()];
                    if (isSpace(after) || after == '/' || after == '>') {
                        state = State::DoubleEscaped;
                        p += 1 + script.size();
                        continue;
                    }
                }
            } else if (endTagAt(p, script)) {
                state = State::Escaped;
                p += 2 + script.size();
                continue;
            }
        }
        ++p;
    }
    return size_;
}

std::string_view HtmlTagScanner::attribute(std::string_view attributes, std::string_view name, bool* present)
{
    std::string_view found;
    bool seen = false;
    bool selfClosing = false;
    walkAttributes(attributes.data(), 0, attributes.size(), selfClosing, [&](std::string_view n, std::string_view v) {
        // The first of duplicate attributes wins, as in the tokenizer.
        if (!seen && equalsIgnoringCase(n, name)) {
            seen = true;
            found = v;
        }
    });
    if (present)
        *present = seen;
    return found;
}

char HtmlTagScanner::lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string HtmlTagScanner::lowered(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = lowerAscii(c);
    return result;
}

bool HtmlTagScanner::equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

#include "convert/CssSelector.h"

#include "convert/HtmlNode.h"

#include <gumbo.h>

#include <QStringMatcher>

#include <algorithm>
#include <vector>

namespace {

bool isCssWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

bool isIdentStart(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '-' || u >= 0x80
        || u == '\\';
}

bool isIdentChar(QChar c)
{
    const char16_t u = c.unicode();
    return isIdentStart(c) || (u >= '0' && u <= '9');
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// True when the whitespace-separated list `list` contains `token` (no allocation).
bool containsToken(QStringView list, QStringView token)
{
    qsizetype i = 0;
    const qsizetype n = list.size();
    while (i < n) {
        while (i < n && isCssWhitespace(list[i]))
            ++i;
        const qsizetype start = i;
        while (i < n && !isCssWhitespace(list[i]))
            ++i;
        if (i - start == token.size() && list.mid(start, i - start) == token)
            return true;
    }
    return false;
}

enum class AttrOp { Exists, Equals, Includes, DashMatch, Prefix, Suffix, Substring };

struct AttrTest {
    QString name;   // lower case
    AttrOp op = AttrOp::Exists;
    QString value;
    // Substring tests search with a skip table made once: the page walk runs them on the
    // class of nearly every element.
    QStringMatcher matcher;
};

struct Compound {
    QString tag;   // lower case; empty for any element
    GumboTag tagId = GUMBO_TAG_UNKNOWN;   // the tag the name stands for, when gumbo knows it
    std::vector<QString> ids;
    std::vector<QString> classes;
    std::vector<AttrTest> attrs;
    bool never = false;   // a test no element can pass, such as [a^=""]
};

enum class Combinator { Descendant, Child };

// Compounds left to right; combinators[i] joins compounds[i] and compounds[i + 1].
struct Complex {
    std::vector<Compound> compounds;
    std::vector<Combinator> combinators;
};

bool attrMatches(const AttrTest& t, QStringView value)
{
    switch (t.op) {
    case AttrOp::Exists:
        return true;
    case AttrOp::Equals:
        return value == t.value;
    case AttrOp::Includes:
        return containsToken(value, t.value);
    case AttrOp::DashMatch:
        return value.startsWith(t.value)
            && (value.size() == t.value.size() || value[t.value.size()] == QLatin1Char('-'));
    case AttrOp::Prefix:
        return value.startsWith(t.value);
    case AttrOp::Suffix:
        return value.endsWith(t.value);
    case AttrOp::Substring:
        return t.matcher.indexIn(value) >= 0;
    }
    return false;
}

} // namespace

struct CssSelector::Parsed {
    std::vector<Complex> complexes;

    static bool compoundMatches(const Compound& c, const HtmlNode& e)
    {
        if (c.never)
            return false;
        // A name gumbo knows is compared as its tag; any other name can only be an element's
        // that gumbo does not know either.
        if (c.tagId != GUMBO_TAG_UNKNOWN) {
            if (e.tag() != c.tagId)
                return false;
        } else if (!c.tag.isEmpty() && e.tagName() != c.tag) {
            return false;
        }
        if (!c.ids.empty()) {
            const HtmlAttribute* id = e.findAttr(u"id");
            if (!id)
                return false;
            for (const QString& want : c.ids) {
                if (id->value != want)
                    return false;
            }
        }
        if (!c.classes.empty()) {
            const HtmlAttribute* cls = e.findAttr(u"class");
            if (!cls)
                return false;
            for (const QString& want : c.classes) {
                if (!containsToken(cls->value, want))
                    return false;
            }
        }
        for (const AttrTest& t : c.attrs) {
            const HtmlAttribute* a = e.findAttr(t.name);
            if (!a || !attrMatches(t, a->value))
                return false;
        }
        return true;
    }

    // Right to left: compounds[index] against `e`, then the rest against its ancestors, none
    // of them above `scope`.
    static bool complexMatches(const Complex& cx, size_t index, const HtmlNode& e,
        const HtmlNode* scope)
    {
        if (!compoundMatches(cx.compounds[index], e))
            return false;
        if (index == 0)
            return true;
        if (&e == scope)
            return false;
        const Combinator comb = cx.combinators[index - 1];
        for (const HtmlNode* p = e.parent(); p; p = p->parent()) {
            if (complexMatches(cx, index - 1, *p, scope))
                return true;
            if (comb == Combinator::Child || p == scope)
                break;
        }
        return false;
    }
};

namespace {

class SelectorParser {
public:
    explicit SelectorParser(const QString& text) : s_(text) {}

    std::vector<Complex> parseGroup()
    {
        std::vector<Complex> group;
        skipWhitespace();
        if (atEnd())
            fail(QStringLiteral("the selector is empty"));
        for (;;) {
            group.push_back(parseComplex());
            skipWhitespace();
            if (atEnd())
                break;
            if (peek() != QLatin1Char(','))
                fail(QStringLiteral("unexpected '%1'").arg(peek()));
            ++pos_;
            skipWhitespace();
            if (atEnd() || peek() == QLatin1Char(','))
                fail(QStringLiteral("empty member in a selector group"));
        }
        return group;
    }

private:
    [[noreturn]] void fail(const QString& what) const
    {
        throw SelectorError(QStringLiteral("Malformed selector \"%1\": %2 at position %3")
                                .arg(s_, what)
                                .arg(pos_)
                                .toStdString());
    }

    bool atEnd() const { return pos_ >= s_.size(); }
    QChar peek() const { return s_[pos_]; }

    bool skipWhitespace()
    {
        const qsizetype start = pos_;
        while (!atEnd() && isCssWhitespace(peek()))
            ++pos_;
        return pos_ > start;
    }

    Complex parseComplex()
    {
        Complex cx;
        cx.compounds.push_back(parseCompound(true));
        for (;;) {
            const bool hadWhitespace = skipWhitespace();
            if (atEnd() || peek() == QLatin1Char(','))
                return cx;
            const QChar c = peek();
            Combinator comb = Combinator::Descendant;
            if (c == QLatin1Char('>')) {
                ++pos_;
                skipWhitespace();
                if (atEnd() || peek() == QLatin1Char(','))
                    fail(QStringLiteral("a combinator without a selector after it"));
                comb = Combinator::Child;
            } else if (c == QLatin1Char('+') || c == QLatin1Char('~')) {
                fail(QStringLiteral("unsupported combinator '%1'").arg(c));
            } else if (!hadWhitespace) {
                fail(QStringLiteral("unexpected '%1'").arg(c));
            }
            cx.combinators.push_back(comb);
            cx.compounds.push_back(parseCompound(false));
        }
    }

    Compound parseCompound(bool first)
    {
        Compound c;
        const qsizetype start = pos_;
        if (!atEnd() && peek() == QLatin1Char('*')) {
            ++pos_;
        } else if (!atEnd() && isIdentStart(peek())) {
            c.tag = parseIdentifier().toLower();
            const QByteArray name = c.tag.toUtf8();
            c.tagId = gumbo_tagn_enum(name.constData(), unsigned(name.size()));
        }
        while (!atEnd()) {
            const QChar ch = peek();
            if (ch == QLatin1Char('#')) {
                ++pos_;
                c.ids.push_back(parseName(QStringLiteral("an id after '#'")));
            } else if (ch == QLatin1Char('.')) {
                ++pos_;
                c.classes.push_back(parseName(QStringLiteral("a class name after '.'")));
            } else if (ch == QLatin1Char('[')) {
                parseAttribute(c);
            } else if (ch == QLatin1Char(':')) {
                ++pos_;
                const QString name = atEnd() || (!isIdentChar(peek()) && peek() != QLatin1Char(':'))
                    ? QString()
                    : parseRawName();
                fail(QStringLiteral("unsupported pseudo-class ':%1'").arg(name));
            } else if (ch == QLatin1Char(']')) {
                fail(QStringLiteral("unbalanced ']'"));
            } else {
                break;
            }
        }
        if (pos_ == start) {
            if (atEnd())
                fail(QStringLiteral("a combinator without a selector after it"));
            const QChar ch = peek();
            if (first && (ch == QLatin1Char('>') || ch == QLatin1Char('+') || ch == QLatin1Char('~')))
                fail(QStringLiteral("a combinator without a selector before it"));
            if (ch == QLatin1Char('>') || ch == QLatin1Char('+') || ch == QLatin1Char('~'))
                fail(QStringLiteral("two combinators in a row"));
            if (ch == QLatin1Char('"') || ch == QLatin1Char('\''))
                fail(QStringLiteral("a quoted string outside an attribute test"));
            fail(QStringLiteral("unexpected '%1'").arg(ch));
        }
        return c;
    }

    QString parseRawName()
    {
        QString name;
        while (!atEnd() && (isIdentChar(peek()) || peek() == QLatin1Char(':')))
            name.append(s_[pos_++]);
        return name;
    }

    QString parseName(const QString& expected)
    {
        if (atEnd() || !isIdentChar(peek()))
            fail(QStringLiteral("expected %1").arg(expected));
        return parseIdentifier();
    }

    // An identifier with CSS escapes ("\31 0", "\:"), read until a character that cannot be
    // part of one.
    QString parseIdentifier()
    {
        QString out;
        while (!atEnd() && isIdentChar(peek())) {
            if (peek() == QLatin1Char('\\'))
                appendEscape(out);
            else
                out.append(s_[pos_++]);
        }
        return out;
    }

    void appendEscape(QString& out)
    {
        ++pos_;   // the backslash
        if (atEnd())
            fail(QStringLiteral("a backslash at the end"));
        if (hexValue(peek()) >= 0) {
            char32_t code = 0;
            int digits = 0;
            while (!atEnd() && digits < 6 && hexValue(peek()) >= 0) {
                code = code * 16 + char32_t(hexValue(peek()));
                ++pos_;
                ++digits;
            }
            if (!atEnd() && isCssWhitespace(peek()))
                ++pos_;
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                code = 0xFFFD;
            out.append(QString::fromUcs4(&code, 1));
            return;
        }
        out.append(s_[pos_++]);
    }

    void parseAttribute(Compound& c)
    {
        ++pos_;   // '['
        skipWhitespace();
        if (atEnd())
            fail(QStringLiteral("unclosed '['"));
        if (!isIdentStart(peek()))
            fail(QStringLiteral("expected an attribute name"));
        AttrTest t;
        t.name = parseIdentifier().toLower();
        skipWhitespace();
        if (atEnd())
            fail(QStringLiteral("unclosed '['"));
        if (peek() == QLatin1Char(']')) {
            ++pos_;
            c.attrs.push_back(std::move(t));
            return;
        }
        t.op = parseOperator();
        skipWhitespace();
        if (atEnd())
            fail(QStringLiteral("unclosed '['"));
        const QChar q = peek();
        if (q == QLatin1Char('"') || q == QLatin1Char('\'')) {
            t.value = parseQuoted(q);
        } else {
            while (!atEnd() && !isCssWhitespace(peek()) && peek() != QLatin1Char(']')) {
                const QChar ch = peek();
                if (ch == QLatin1Char('"') || ch == QLatin1Char('\'') || ch == QLatin1Char('['))
                    fail(QStringLiteral("unexpected '%1' in an attribute value").arg(ch));
                if (ch == QLatin1Char('\\'))
                    appendEscape(t.value);
                else
                    t.value.append(s_[pos_++]);
            }
            if (t.value.isEmpty())
                fail(QStringLiteral("expected an attribute value"));
        }
        skipWhitespace();
        if (atEnd())
            fail(QStringLiteral("unclosed '['"));
        if (peek() != QLatin1Char(']'))
            fail(QStringLiteral("expected ']' but found '%1'").arg(peek()));
        ++pos_;
        // Prefix, suffix and substring tests with an empty value, and a word test with an
        // empty value or one holding whitespace, match nothing.
        if ((t.value.isEmpty()
                && (t.op == AttrOp::Prefix || t.op == AttrOp::Suffix || t.op == AttrOp::Substring
                    || t.op == AttrOp::Includes))
            || (t.op == AttrOp::Includes
                && std::any_of(t.value.begin(), t.value.end(), isCssWhitespace))) {
            c.never = true;
        }
        if (t.op == AttrOp::Substring)
            t.matcher.setPattern(t.value);
        c.attrs.push_back(std::move(t));
    }

    AttrOp parseOperator()
    {
        const QChar ch = peek();
        if (ch == QLatin1Char('=')) {
            ++pos_;
            return AttrOp::Equals;
        }
        AttrOp op;
        switch (ch.unicode()) {
        case '~': op = AttrOp::Includes; break;
        case '|': op = AttrOp::DashMatch; break;
        case '^': op = AttrOp::Prefix; break;
        case '$': op = AttrOp::Suffix; break;
        case '*': op = AttrOp::Substring; break;
        default:
            fail(QStringLiteral("unknown attribute operator '%1'").arg(ch));
        }
        ++pos_;
        if (atEnd() || peek() != QLatin1Char('='))
            fail(QStringLiteral("unknown attribute operator '%1'").arg(ch));
        ++pos_;
        return op;
    }

    QString parseQuoted(QChar quote)
    {
        const qsizetype open = pos_;
        ++pos_;
        QString out;
        while (!atEnd() && peek() != quote) {
            if (peek() == QLatin1Char('\\')) {
                if (pos_ + 1 < s_.size() && (s_[pos_ + 1] == QLatin1Char('\n'))) {
                    pos_ += 2;   // an escaped newline continues the string
                    continue;
                }
                appendEscape(out);
            } else {
                out.append(s_[pos_++]);
            }
        }
        if (atEnd()) {
            pos_ = open;
            fail(QStringLiteral("unclosed quote"));
        }
        ++pos_;
        return out;
    }

    const QString& s_;
    qsizetype pos_ = 0;
};

} // namespace

CssSelector::CssSelector(const QString& text) : parsed_(std::make_unique<Parsed>()), text_(text)
{
    parsed_->complexes = SelectorParser(text_).parseGroup();
}

CssSelector::~CssSelector() = default;
CssSelector::CssSelector(CssSelector&&) noexcept = default;
CssSelector& CssSelector::operator=(CssSelector&&) noexcept = default;

bool CssSelector::matches(const HtmlNode& element) const
{
    return matchesWithin(element, nullptr);
}

bool CssSelector::matchesWithin(const HtmlNode& element, const HtmlNode* scope) const
{
    if (!parsed_ || !element.isElement())
        return false;
    for (const Complex& cx : parsed_->complexes) {
        if (Parsed::complexMatches(cx, cx.compounds.size() - 1, element, scope))
            return true;
    }
    return false;
}

const QString& CssSelector::text() const { return text_; }

#include "convert/HtmlNode.h"

#include "convert/CssSelector.h"

#include <algorithm>
#include <stdexcept>

namespace {

const QString& emptyString()
{
    static const QString empty;
    return empty;
}

bool isAsciiWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

} // namespace

HtmlNode* HtmlNode::ChildRange::at(std::size_t index) const
{
    for (HtmlNode* child : *this) {
        if (index-- == 0)
            return child;
    }
    throw std::out_of_range("HtmlNode::ChildRange::at: no such child");
}

const QString& HtmlNode::tagName() const
{
    return isElement() && name_ ? *name_ : emptyString();
}

const HtmlAttribute* HtmlNode::findAttr(QStringView lowerName) const
{
    // Names are short: compared here rather than by a call per attribute.
    for (const HtmlAttribute& a : attributes()) {
        if (a.name.size() == lowerName.size() && std::equal(a.name.begin(), a.name.end(), lowerName.begin()))
            return &a;
    }
    return nullptr;
}

QStringView HtmlNode::attrView(QStringView lowerName) const
{
    const HtmlAttribute* a = findAttr(lowerName);
    return a ? a->value : QStringView();
}

bool HtmlNode::hasAttr(const QString& name) const
{
    for (const HtmlAttribute& a : attributes()) {
        if (a.name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString HtmlNode::attr(const QString& name) const
{
    for (const HtmlAttribute& a : attributes()) {
        if (a.name.compare(name, Qt::CaseInsensitive) == 0)
            return a.value.toString();
    }
    return QString();
}

QStringList HtmlNode::classNames() const
{
    QStringList names;
    const QStringView v = attrView(u"class");
    qsizetype i = 0;
    while (i < v.size()) {
        while (i < v.size() && isAsciiWhitespace(v[i]))
            ++i;
        const qsizetype start = i;
        while (i < v.size() && !isAsciiWhitespace(v[i]))
            ++i;
        if (i > start)
            names.append(v.mid(start, i - start).toString());
    }
    return names;
}

std::vector<HtmlNode*> HtmlNode::childElements() const
{
    std::vector<HtmlNode*> elements;
    for (HtmlNode* c : childNodes()) {
        if (c->isElement())
            elements.push_back(c);
    }
    return elements;
}

void HtmlNode::appendText(QString& out, bool& pendingBlank) const
{
    // Runs of visible characters are copied whole; QChar::isSpace covers the ASCII whitespace
    // and the Unicode spaces (no-break space too).
    const QStringView text = wholeText();
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i].isSpace()) {
            pendingBlank = true;
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && !text[i].isSpace())
            ++i;
        if (pendingBlank && !out.isEmpty())
            out.append(QLatin1Char(' '));
        pendingBlank = false;
        out.append(text.mid(start, i - start));
    }
}

QString HtmlNode::text() const
{
    QString out;
    bool pendingBlank = false;
    if (isText()) {
        appendText(out, pendingBlank);
        return out;
    }
    // One pass over the subtree's run of nodes: the ends of the block elements entered so far
    // mark where a blank separates what follows.
    std::vector<const HtmlNode*> blockEnds;
    const HtmlNode* end = this + subtreeSize_;
    for (const HtmlNode* n = this; n < end;) {
        while (!blockEnds.empty() && n >= blockEnds.back()) {
            pendingBlank = true;
            blockEnds.pop_back();
        }
        if (n != this && (n->flags_ & DetachedFlag)) {
            n += n->subtreeSize_;
            continue;
        }
        if (n->isText()) {
            const HtmlNode* p = n->parent();
            if (!(p && (p->flags_ & RawTextFlag)))
                n->appendText(out, pendingBlank);
        } else if (n->flags_ & (BlockFlag | BreakFlag)) {
            pendingBlank = true;
            if (n->flags_ & BlockFlag)
                blockEnds.push_back(n + n->subtreeSize_);
        }
        ++n;
    }
    return out;
}

std::vector<HtmlNode*> HtmlNode::selectUnder(const HtmlNode* root, const CssSelector& selector, const HtmlNode* scope)
{
    std::vector<HtmlNode*> found;
    walkElements(root, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, scope))
            found.push_back(const_cast<HtmlNode*>(n));
        return true;
    });
    return found;
}

HtmlNode* HtmlNode::selectFirstUnder(const HtmlNode* root, const CssSelector& selector, const HtmlNode* scope)
{
    HtmlNode* first = nullptr;
    walkElements(root, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, scope)) {
            first = const_cast<HtmlNode*>(n);
            return false;
        }
        return true;
    });
    return first;
}

std::vector<HtmlNode*> HtmlNode::select(const CssSelector& selector) const
{
    return isElement() ? selectUnder(this, selector, this) : std::vector<HtmlNode*>();
}

std::vector<HtmlNode*> HtmlNode::select(const QString& selector) const
{
    return select(CssSelector(selector));
}

HtmlNode* HtmlNode::selectFirst(const CssSelector& selector) const
{
    return isElement() ? selectFirstUnder(this, selector, this) : nullptr;
}

HtmlNode* HtmlNode::selectFirst(const QString& selector) const
{
    return selectFirst(CssSelector(selector));
}

void HtmlNode::remove()
{
    // The node keeps its place in the array: its parent's children step over it from now on.
    if (!parentOffset_)
        return;
    parentOffset_ = 0;
    flags_ |= DetachedFlag;
}

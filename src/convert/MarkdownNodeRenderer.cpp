#include "convert/MarkdownNodeRenderer.h"

#include "convert/AssetDownloads.h"
#include "convert/CssSelector.h"
#include "convert/HtmlNode.h"
#include "convert/MarkdownEscaping.h"
#include "convert/MarkdownOutput.h"
#include "convert/MarkdownTable.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

// Beyond this nesting the content is kept as plain text: the renderer recurses, and a
// hostile page must not exhaust the stack.
constexpr int maxDepth = 256;
// Quotes and lists nested deeper than this keep their content as plain blocks: every level
// puts a prefix or an indent before each of its lines, so a page of quotes nested hundreds
// deep would otherwise make a note many times its own size.
constexpr int maxPrefixedDepth = 16;

static_assert(GUMBO_TAG_H6 - GUMBO_TAG_H1 == 5, "the heading tags follow each other");

struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
};

struct Selectors {
    CssSelector code { QStringLiteral("code") };
    CssSelector botHeaderText { QStringLiteral("[class*='BotHeader_textContainer'] p") };
    CssSelector botHeaderTitle { QStringLiteral("[class*='BotHeader_title']") };
    CssSelector referencedText { QStringLiteral("[class*='ReferencedMessage_text']") };
};

const Selectors& selectors()
{
    static const Selectors instance;
    return instance;
}

bool isBlank(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

bool isTag(const HtmlNode& node, GumboTag tag)
{
    return node.isElement() && node.tag() == tag;
}

qsizetype longestBacktickRun(QStringView text)
{
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// Plain text of a subtree without recursion; line breaks after blocks and at "br".
void appendNodeText(const HtmlNode& root, QString& out)
{
    struct Frame {
        const HtmlNode* node;
        HtmlNode::ChildRange::iterator next;
        HtmlNode::ChildRange::iterator end;
    };
    if (root.isText()) {
        out += root.wholeText();
        return;
    }
    std::vector<Frame> stack;
    const auto enter = [&](const HtmlNode& element) {
        if (element.tag() == GUMBO_TAG_BR) {
            out += QLatin1Char('\n');
        }
        const HtmlNode::ChildRange children = element.childNodes();
        stack.push_back({ &element, children.begin(), children.end() });
    };
    enter(root);
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next != frame.end) {
            const HtmlNode* child = *frame.next++;
            if (child->isText()) {
                out += child->wholeText();
            } else {
                enter(*child);
            }
            continue;
        }
        switch (frame.node->tag()) {
        case GUMBO_TAG_P: case GUMBO_TAG_DIV: case GUMBO_TAG_TR: case GUMBO_TAG_LI:
            out += QLatin1Char('\n');
            break;
        default:
            break;
        }
        stack.pop_back();
    }
}

// Inline code in a backtick string longer than any inside, padded so that the code may start
// or end with a backtick.
QString inlineCode(const QString& text)
{
    const qsizetype run = longestBacktickRun(text);
    if (run == 0) {
        return QLatin1Char('`') + text + QLatin1Char('`');
    }
    const QString fence(run + 1, QLatin1Char('`'));
    return fence + QLatin1Char(' ') + text + QLatin1Char(' ') + fence;
}

// A "p" whose only element child is an "em": the summary line of a folded quote.
bool isSummaryParagraph(const HtmlNode& node)
{
    if (!isTag(node, GUMBO_TAG_P)) {
        return false;
    }
    int elements = 0;
    bool em = false;
    for (const HtmlNode* child : node.childNodes()) {
        if (child->isElement()) {
            ++elements;
            em = child->tag() == GUMBO_TAG_EM;
        }
    }
    return elements == 1 && em;
}

QString firstNonEmptyText(const HtmlNode& root, std::initializer_list<const CssSelector*> list)
{
    for (const CssSelector* selector : list) {
        if (const HtmlNode* found = root.selectFirst(*selector)) {
            const QString text = found->text().trimmed();
            if (!text.isEmpty()) {
                return text;
            }
        }
    }
    return {};
}

} // namespace

MarkdownNodeRenderer::MarkdownNodeRenderer(AssetDownloads& assets, bool dryRun)
    : assets_(assets)
    , dryRun_(dryRun)
{
}

void MarkdownNodeRenderer::processMessageContent(const HtmlNode& element, QStringView prefix, MarkdownOutput& out)
{
    MarkdownOutput body;
    renderChildren(element, body);
    const QStringView trimmed = MarkdownOutput::trimBlankLines(body.text());
    if (!trimmed.isEmpty()) {
        out.appendPrefixed(trimmed, prefix, prefix, true);
    }
}

QString MarkdownNodeRenderer::processChildren(const HtmlNode& element)
{
    MarkdownOutput out;
    renderChildren(element, out);
    return out.take();
}

QString MarkdownNodeRenderer::convertNodeToMarkdown(const HtmlNode& node)
{
    MarkdownOutput out;
    renderNode(node, out);
    return out.take();
}

void MarkdownNodeRenderer::renderChildren(const HtmlNode& element, MarkdownOutput& out)
{
    const auto& children = element.childNodes();
    for (auto it = children.begin(); it != children.end(); ++it) {
        const HtmlNode& child = **it;
        if (child.isText()) {
            const QStringView text = child.wholeText();
            if (!out.atLineStart()) {
                out += text;
            } else if (!isBlank(text)) {
                // Source indentation at the start of a line would turn into a code block.
                qsizetype skip = 0;
                while (text.at(skip).isSpace()) {
                    ++skip;
                }
                out += text.mid(skip);
            }
            continue;
        }
        if (isSummaryParagraph(child)) {
            auto next = std::next(it);
            while (next != children.end() && (*next)->isText() && isBlank((*next)->wholeText())) {
                ++next;
            }
            if (next != children.end() && isTag(**next, GUMBO_TAG_BLOCKQUOTE)) {
                renderDetails(child, **next, out);
                it = next;
                continue;
            }
        }
        renderNode(child, out);
    }
}

void MarkdownNodeRenderer::renderDetails(const HtmlNode& summary, const HtmlNode& quote, MarkdownOutput& out)
{
    MarkdownOutput inner;
    renderNode(quote, inner);
    out.ensureBlankLine();
    out += QLatin1String("<details>\n<summary>");
    out += summary.text().toHtmlEscaped();
    out += QLatin1String("</summary>\n\n");
    out += MarkdownOutput::trimBlankLines(inner.text());
    out += QLatin1String("\n\n</details>\n\n");
}

void MarkdownNodeRenderer::renderNode(const HtmlNode& node, MarkdownOutput& out)
{
    if (!node.isElement()) {
        out += node.wholeText();
        return;
    }
    if (depth_ >= maxDepth) {
        out += extractNodeText(node);
        return;
    }
    const DepthGuard guard(depth_);
    renderElement(node, markdownElementKind(node), out);
}

void MarkdownNodeRenderer::renderElement(const HtmlNode& element, MarkdownElementKind kind, MarkdownOutput& out)
{
    using Kind = MarkdownElementKind;
    switch (kind) {
    case Kind::ReferencedMessage:
        out.ensureBlankLine();
        out += processReferencedMessage(element);
        out.ensureBlankLine();
        return;
    case Kind::CodeBlock:
        out.ensureBlankLine();
        out += processCodeBlock(element);
        out += QLatin1String("\n\n");
        return;
    case Kind::Image:
        out += assets_.downloadAndLinkAsset(element, QStringLiteral("image"), dryRun_);
        return;
    case Kind::Media:
        out += assets_.downloadAndLinkAsset(element, element.tagName(), dryRun_);
        return;
    case Kind::Attachment:
        out += assets_.downloadAndLinkAsset(element, QStringLiteral("file"), dryRun_);
        return;
    case Kind::Link:
        renderLink(element, out);
        return;
    case Kind::Table: {
        const QString table = processTable(element);
        if (!table.isEmpty()) {
            out.ensureBlankLine();
            out += table;
            out.ensureBlankLine();
        }
        return;
    }
    case Kind::Quote:
        renderQuote(element, out);
        return;
    case Kind::InlineCode: {
        const QString text = element.text();
        if (!text.isEmpty()) {
            out += inlineCode(text);
        }
        return;
    }
    case Kind::Strong:
        renderDelimited(element, QLatin1StringView("**"), out);
        return;
    case Kind::Emphasis:
        renderDelimited(element, QLatin1StringView("*"), out);
        return;
    case Kind::Heading:
        out.ensureBlankLine();
        out += QString(element.tag() - GUMBO_TAG_H1 + 1, QLatin1Char('#'));
        out += QLatin1Char(' ');
        out += element.text();
        out += QLatin1String("\n\n");
        return;
    case Kind::UnorderedList:
    case Kind::OrderedList:
        renderList(element, kind == Kind::OrderedList, out);
        return;
    case Kind::Rule:
        // After a blank line, so that it never turns the paragraph above into a heading.
        out.ensureBlankLine();
        out += QLatin1String("---\n\n");
        return;
    case Kind::Break:
        out += QLatin1Char('\n');
        return;
    case Kind::Block:
        out.ensureBlankLine();
        renderChildren(element, out);
        out.ensureBlankLine();
        return;
    case Kind::Text:
        out += element.wholeText();
        return;
    case Kind::ImageContainer:
    case Kind::Other:
        renderChildren(element, out);
        return;
    }
}

void MarkdownNodeRenderer::renderLink(const HtmlNode& link, MarkdownOutput& out)
{
    MarkdownOutput label;
    renderChildren(link, label);
    out += QLatin1Char('[');
    if (label.text().contains(QLatin1Char('\n'))) {
        out += label.take().simplified();
    } else {
        out += label.text();
    }
    out += QLatin1String("](");
    out += MarkdownEscaping::linkDestination(link.attrView(u"href"));
    out += QLatin1Char(')');
}

void MarkdownNodeRenderer::renderQuote(const HtmlNode& quote, MarkdownOutput& out)
{
    if (prefixedDepth_ >= maxPrefixedDepth) {
        out.ensureBlankLine();
        renderChildren(quote, out);
        out.ensureBlankLine();
        return;
    }
    const DepthGuard prefixed(prefixedDepth_);
    MarkdownOutput inner;
    renderChildren(quote, inner);
    out.ensureBlankLine();
    out.appendPrefixed(MarkdownOutput::trimBlankLines(inner.text()), u"> ", u"> ", true);
    out += QLatin1String("\n\n");
}

void MarkdownNodeRenderer::renderDelimited(const HtmlNode& element, QLatin1StringView delimiter, MarkdownOutput& out)
{
    MarkdownOutput rendered;
    renderChildren(element, rendered);
    const QString& inner = rendered.text();
    // Emphasis must not start or end with a blank; keep such blanks outside the markers.
    qsizetype start = 0;
    qsizetype end = inner.size();
    while (start < end && inner.at(start).isSpace()) {
        ++start;
    }
    while (end > start && inner.at(end - 1).isSpace()) {
        --end;
    }
    if (start == end) {
        out += inner;
        return;
    }
    out += QStringView(inner).left(start);
    out += delimiter;
    out += QStringView(inner).mid(start, end - start);
    out += delimiter;
    out += QStringView(inner).mid(end);
}

void MarkdownNodeRenderer::renderList(const HtmlNode& list, bool ordered, MarkdownOutput& out)
{
    out.ensureLineStart();
    if (prefixedDepth_ >= maxPrefixedDepth) {
        for (const HtmlNode* child : list.childNodes()) {
            if (isTag(*child, GUMBO_TAG_LI)) {
                renderChildren(*child, out);
                out.ensureLineStart();
            }
        }
        return;
    }
    const DepthGuard prefixed(prefixedDepth_);
    int number = 0;
    bool any = false;
    for (const HtmlNode* child : list.childNodes()) {
        if (!isTag(*child, GUMBO_TAG_LI)) {
            continue;
        }
        any = true;
        const QString marker = ordered ? QString::number(++number) + QStringLiteral(". ") : QStringLiteral("- ");
        MarkdownOutput item;
        renderChildren(*child, item);
        // Continuation lines are indented to the item's content so nested lists, code and
        // further paragraphs stay inside the item.
        out.appendPrefixed(MarkdownOutput::trimBlankLines(item.text()).trimmed(), marker,
            QString(marker.size(), QLatin1Char(' ')), false);
        out += QLatin1Char('\n');
    }
    if (any) {
        out += QLatin1Char('\n');
    }
}

QString MarkdownNodeRenderer::processCodeBlock(const HtmlNode& element)
{
    const HtmlNode* code = element.selectFirst(selectors().code);
    QString language;
    if (code) {
        for (const QString& name : code->classNames()) {
            if (name.startsWith(QLatin1String("language-"))) {
                language = name.mid(9);
                break;
            }
        }
        // The info string of a backtick fence may hold no backtick.
        language.remove(QLatin1Char('`'));
    }
    QString text = extractCodeText(code ? *code : element);
    while (text.endsWith(QLatin1Char('\n'))) {
        text.chop(1);
    }
    // One backtick more than the longest run inside, so the code cannot close the fence.
    const QString fence(std::max<qsizetype>(3, longestBacktickRun(text) + 1), QLatin1Char('`'));
    QString out;
    out.reserve(text.size() + language.size() + 2 * fence.size() + 3);
    out += fence;
    out += language;
    out += QLatin1Char('\n');
    if (!text.isEmpty()) {
        out += text;
        out += QLatin1Char('\n');
    }
    out += fence;
    return out;
}

QString MarkdownNodeRenderer::extractCodeText(const HtmlNode& node)
{
    return extractNodeText(node);
}

QString MarkdownNodeRenderer::extractNodeText(const HtmlNode& node)
{
    QString out;
    appendNodeText(node, out);
    return out;
}

QString MarkdownNodeRenderer::renderCell(const HtmlNode& cell)
{
    MarkdownOutput rendered;
    renderChildren(cell, rendered);
    // A cell is one line, and a "|" of its own must not split the row.
    QString text = rendered.take().simplified();
    text.replace(QLatin1Char('|'), QLatin1String("\\|"));
    return text;
}

QString MarkdownNodeRenderer::processTable(const HtmlNode& table)
{
    std::vector<QStringList> rows;
    bool hasHeaderCells = false;
    for (const HtmlNode* row : MarkdownTable::rows(table)) {
        QStringList line;
        for (const HtmlNode* cell : MarkdownTable::cells(*row)) {
            hasHeaderCells = hasHeaderCells || MarkdownTable::isHeaderCell(*cell);
            line.append(renderCell(*cell));
        }
        rows.push_back(std::move(line));
    }
    return MarkdownTable::write(rows, hasHeaderCells);
}

QString MarkdownNodeRenderer::processReferencedMessage(const HtmlNode& element)
{
    QString author = firstNonEmptyText(element, { &selectors().botHeaderText, &selectors().botHeaderTitle });
    if (author.isEmpty()) {
        author = QStringLiteral("Unknown");
    }
    QString plain;
    if (const HtmlNode* textElement = element.selectFirst(selectors().referencedText)) {
        plain = extractNodeText(*textElement);
    }
    const QStringView text = MarkdownOutput::trimBlankLines(plain);
    MarkdownOutput out;
    out += QStringLiteral("> **") + author + QStringLiteral("**\n");
    if (!text.isEmpty()) {
        out.appendPrefixed(text, u"> ", u"> ", true);
        out += QLatin1Char('\n');
    }
    out += QLatin1String(">\n");
    return out.take();
}

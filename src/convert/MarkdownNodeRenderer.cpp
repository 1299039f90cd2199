#include "convert/MarkdownNodeRenderer.h"

#include "convert/AssetDownloads.h"
#include "convert/CssSelector.h"
#include "convert/HtmlDocument.h"
#include "convert/MarkdownEscaping.h"

#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Beyond this nesting the content is kept as plain text: the renderer recurses, and a
// hostile page must not exhaust the stack.
constexpr int maxDepth = 256;
// Quotes and lists nested deeper than this keep their content as plain blocks: every level
// puts a prefix or an indent before each of its lines, so a page of quotes nested hundreds
// deep would otherwise make a note many times its own size.
constexpr int maxPrefixedDepth = 16;

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

bool isTag(const HtmlNode& node, QLatin1StringView tag)
{
    return node.isElement() && node.tagName() == tag;
}

void chopTrailingBlanks(QString& out)
{
    qsizetype end = out.size();
    while (end > 0 && (out.at(end - 1) == QLatin1Char(' ') || out.at(end - 1) == QLatin1Char('\t'))) {
        --end;
    }
    out.truncate(end);
}

// A block starts after a blank line (or at the very start of its container).
void ensureBlankLine(QString& out)
{
    chopTrailingBlanks(out);
    if (out.isEmpty()) {
        return;
    }
    if (!out.endsWith(QLatin1Char('\n'))) {
        out += QLatin1String("\n\n");
    } else if (!out.endsWith(QLatin1String("\n\n"))) {
        out += QLatin1Char('\n');
    }
}

void ensureLineStart(QString& out)
{
    chopTrailingBlanks(out);
    if (!out.isEmpty() && !out.endsWith(QLatin1Char('\n'))) {
        out += QLatin1Char('\n');
    }
}

bool atLineStart(const QString& out)
{
    return out.isEmpty() || out.endsWith(QLatin1Char('\n'));
}

// Drops leading blank lines and trailing whitespace; the first line keeps its indentation.
QString trimBlankLines(const QString& text)
{
    qsizetype start = 0;
    qsizetype lineStart = 0;
    while (start < text.size() && text.at(start).isSpace()) {
        if (text.at(start) == QLatin1Char('\n')) {
            lineStart = start + 1;
        }
        ++start;
    }
    if (start == text.size()) {
        return {};
    }
    qsizetype end = text.size();
    while (end > lineStart && text.at(end - 1).isSpace()) {
        --end;
    }
    return text.mid(lineStart, end - lineStart);
}

// Puts `first` before the first line and `rest` before every further line; linear in the text.
void appendPrefixed(QString& out, const QString& text, QStringView first, QStringView rest,
    bool prefixEmptyLines)
{
    out.reserve(out.size() + text.size() + (text.count(QLatin1Char('\n')) + 1) * rest.size() + first.size());
    qsizetype pos = 0;
    bool firstLine = true;
    while (pos <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0) {
            end = text.size();
        }
        const QStringView line = QStringView(text).mid(pos, end - pos);
        if (firstLine) {
            out += first;
        } else if (prefixEmptyLines || !line.isEmpty()) {
            out += rest;
        }
        out += line;
        firstLine = false;
        if (end == text.size()) {
            break;
        }
        out += QLatin1Char('\n');
        pos = end + 1;
    }
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
        std::size_t next;
    };
    if (root.isText()) {
        out += root.wholeText();
        return;
    }
    std::vector<Frame> stack { { &root, 0 } };
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const HtmlNode& node = *frame.node;
        if (frame.next == 0 && node.tagName() == QLatin1String("br")) {
            out += QLatin1Char('\n');
        }
        const auto& children = node.childNodes();
        if (frame.next < children.size()) {
            const HtmlNode* child = children[frame.next++];
            if (child->isText()) {
                out += child->wholeText();
            } else {
                stack.push_back({ child, 0 });
            }
            continue;
        }
        const QString& tag = node.tagName();
        if (tag == QLatin1String("p") || tag == QLatin1String("div") || tag == QLatin1String("tr")
            || tag == QLatin1String("li")) {
            out += QLatin1Char('\n');
        }
        stack.pop_back();
    }
}

// A "p" whose only element child is an "em": the summary line of a folded quote.
bool isSummaryParagraph(const HtmlNode& node)
{
    if (!isTag(node, QLatin1StringView("p"))) {
        return false;
    }
    int elements = 0;
    bool em = false;
    for (const HtmlNode* child : node.childNodes()) {
        if (child->isElement()) {
            ++elements;
            em = child->tagName() == QLatin1String("em");
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

MarkdownNodeRenderer::MarkdownNodeRenderer(AssetDownloads& assets)
    : assets_(assets)
{
}

QString MarkdownNodeRenderer::processMessageContent(
    const HtmlNode& element, const QString& prefix, bool dryRun)
{
    QString body;
    appendChildren(element, body, dryRun);
    const QString trimmed = trimBlankLines(body);
    QString out;
    if (!trimmed.isEmpty()) {
        appendPrefixed(out, trimmed, prefix, prefix, true);
    }
    return out;
}

QString MarkdownNodeRenderer::processChildren(const HtmlNode& element, bool dryRun)
{
    QString out;
    appendChildren(element, out, dryRun);
    return out;
}

QString MarkdownNodeRenderer::convertNodeToMarkdown(const HtmlNode& element, bool dryRun)
{
    QString out;
    appendNode(element, out, dryRun);
    return out;
}

void MarkdownNodeRenderer::appendChildren(const HtmlNode& element, QString& out, bool dryRun)
{
    const auto& children = element.childNodes();
    for (std::size_t i = 0; i < children.size(); ++i) {
        const HtmlNode& child = *children[i];
        if (child.isText()) {
            const QString& text = child.wholeText();
            if (!atLineStart(out)) {
                out += text;
            } else if (!isBlank(text)) {
                // Source indentation at the start of a line would turn into a code block.
                qsizetype skip = 0;
                while (text.at(skip).isSpace()) {
                    ++skip;
                }
                out += QStringView(text).mid(skip);
            }
            continue;
        }
        if (isSummaryParagraph(child)) {
            std::size_t next = i + 1;
            while (next < children.size() && children[next]->isText() && isBlank(children[next]->wholeText())) {
                ++next;
            }
            if (next < children.size() && isTag(*children[next], QLatin1StringView("blockquote"))) {
                QString quote;
                appendNode(*children[next], quote, dryRun);
                ensureBlankLine(out);
                out += QLatin1String("<details>\n<summary>");
                out += child.text().toHtmlEscaped();
                out += QLatin1String("</summary>\n\n");
                out += trimBlankLines(quote);
                out += QLatin1String("\n\n</details>\n\n");
                i = next;
                continue;
            }
        }
        appendNode(child, out, dryRun);
    }
}

void MarkdownNodeRenderer::appendNode(const HtmlNode& element, QString& out, bool dryRun)
{
    if (!element.isElement()) {
        out += element.wholeText();
        return;
    }
    if (depth_ >= maxDepth) {
        appendNodeText(element, out);
        return;
    }
    const DepthGuard guard(depth_);

    const QString& tag = element.tagName();
    const QString cls = element.attr(QStringLiteral("class"));

    if (cls.contains(QLatin1String("ReferencedMessage_container"))) {
        ensureBlankLine(out);
        out += processReferencedMessage(element);
        ensureBlankLine(out);
        return;
    }
    if (cls.contains(QLatin1String("MarkdownImage_imageContainer"))) {
        appendChildren(element, out, dryRun);
        return;
    }
    if (tag == QLatin1String("pre") || cls.contains(QLatin1String("MarkdownCodeBlock"))) {
        ensureBlankLine(out);
        out += processCodeBlock(element);
        out += QLatin1String("\n\n");
        return;
    }
    if (tag == QLatin1String("img")) {
        out += assets_.downloadAndLinkAsset(element, QStringLiteral("image"), dryRun);
        return;
    }
    if (tag == QLatin1String("video") || tag == QLatin1String("audio")) {
        out += assets_.downloadAndLinkAsset(element, tag, dryRun);
        return;
    }
    if (tag == QLatin1String("a")) {
        if (AssetDownloads::isAttachment(element)) {
            out += assets_.downloadAndLinkAsset(element, QStringLiteral("file"), dryRun);
            return;
        }
        QString label;
        appendChildren(element, label, dryRun);
        if (label.contains(QLatin1Char('\n'))) {
            label = label.simplified();
        }
        out += QLatin1Char('[');
        out += label;
        out += QLatin1String("](");
        out += MarkdownEscaping::linkDestination(element.attr(QStringLiteral("href")));
        out += QLatin1Char(')');
        return;
    }
    if (tag == QLatin1String("table")) {
        const QString table = processTable(element, dryRun);
        if (!table.isEmpty()) {
            ensureBlankLine(out);
            out += table;
            ensureBlankLine(out);
        }
        return;
    }
    if (tag == QLatin1String("blockquote")) {
        if (prefixedDepth_ >= maxPrefixedDepth) {
            ensureBlankLine(out);
            appendChildren(element, out, dryRun);
            ensureBlankLine(out);
            return;
        }
        const DepthGuard prefixed(prefixedDepth_);
        QString inner;
        appendChildren(element, inner, dryRun);
        ensureBlankLine(out);
        appendPrefixed(out, trimBlankLines(inner), u"> ", u"> ", true);
        out += QLatin1String("\n\n");
        return;
    }
    if (tag == QLatin1String("code")) {
        const QString text = element.text();
        if (text.isEmpty()) {
            return;
        }
        const qsizetype run = longestBacktickRun(text);
        if (run == 0) {
            out += QLatin1Char('`') + text + QLatin1Char('`');
        } else {
            // A longer backtick string than any inside, padded so the code may start or end
            // with a backtick.
            const QString fence(run + 1, QLatin1Char('`'));
            out += fence + QLatin1Char(' ') + text + QLatin1Char(' ') + fence;
        }
        return;
    }
    if (tag == QLatin1String("strong") || tag == QLatin1String("b")) {
        appendDelimited(element, QLatin1StringView("**"), out, dryRun);
        return;
    }
    if (tag == QLatin1String("em") || tag == QLatin1String("i")) {
        appendDelimited(element, QLatin1StringView("*"), out, dryRun);
        return;
    }
    if (tag.size() == 2 && tag.at(0) == QLatin1Char('h') && tag.at(1) >= QLatin1Char('1')
        && tag.at(1) <= QLatin1Char('6')) {
        ensureBlankLine(out);
        out += QString(tag.at(1).digitValue(), QLatin1Char('#'));
        out += QLatin1Char(' ');
        out += element.text();
        out += QLatin1String("\n\n");
        return;
    }
    if (tag == QLatin1String("ul") || tag == QLatin1String("ol")) {
        appendList(element, tag == QLatin1String("ol"), out, dryRun);
        return;
    }
    if (tag == QLatin1String("hr")) {
        // After a blank line, so that it never turns the paragraph above into a heading.
        ensureBlankLine(out);
        out += QLatin1String("---\n\n");
        return;
    }
    if (tag == QLatin1String("br")) {
        out += QLatin1Char('\n');
        return;
    }
    if (tag == QLatin1String("p") || tag == QLatin1String("div")) {
        ensureBlankLine(out);
        appendChildren(element, out, dryRun);
        ensureBlankLine(out);
        return;
    }
    appendChildren(element, out, dryRun);
}

void MarkdownNodeRenderer::appendDelimited(
    const HtmlNode& element, QLatin1StringView delimiter, QString& out, bool dryRun)
{
    QString inner;
    appendChildren(element, inner, dryRun);
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

void MarkdownNodeRenderer::appendList(const HtmlNode& list, bool ordered, QString& out, bool dryRun)
{
    ensureLineStart(out);
    if (prefixedDepth_ >= maxPrefixedDepth) {
        for (const HtmlNode* child : list.childNodes()) {
            if (isTag(*child, QLatin1StringView("li"))) {
                appendChildren(*child, out, dryRun);
                ensureLineStart(out);
            }
        }
        return;
    }
    const DepthGuard prefixed(prefixedDepth_);
    int number = 0;
    bool any = false;
    for (const HtmlNode* child : list.childNodes()) {
        if (!isTag(*child, QLatin1StringView("li"))) {
            continue;
        }
        any = true;
        const QString marker = ordered ? QString::number(++number) + QStringLiteral(". ") : QStringLiteral("- ");
        QString item;
        appendChildren(*child, item, dryRun);
        // Continuation lines are indented to the item's content so nested lists, code and
        // further paragraphs stay inside the item.
        appendPrefixed(out, trimBlankLines(item).trimmed(), marker, QString(marker.size(), QLatin1Char(' ')), false);
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
    QString out;
    appendNodeText(node, out);
    return out;
}

QString MarkdownNodeRenderer::extractNodeText(const HtmlNode& node)
{
    QString out;
    appendNodeText(node, out);
    return out;
}

QString MarkdownNodeRenderer::renderCell(const HtmlNode& cell, bool dryRun)
{
    QString text;
    appendChildren(cell, text, dryRun);
    // A cell is one line, and a "|" of its own must not split the row.
    text = text.simplified();
    text.replace(QLatin1Char('|'), QLatin1String("\\|"));
    return text;
}

QString MarkdownNodeRenderer::processTable(const HtmlNode& table, bool dryRun)
{
    // Rows of this table only (not of tables nested in its cells): head, body, then foot.
    std::vector<const HtmlNode*> head;
    std::vector<const HtmlNode*> body;
    std::vector<const HtmlNode*> foot;
    for (const HtmlNode* child : table.childNodes()) {
        if (!child->isElement()) {
            continue;
        }
        const QString& tag = child->tagName();
        auto& target = tag == QLatin1String("thead") ? head : tag == QLatin1String("tfoot") ? foot : body;
        if (tag == QLatin1String("tr")) {
            body.push_back(child);
        } else if (tag == QLatin1String("thead") || tag == QLatin1String("tbody") || tag == QLatin1String("tfoot")) {
            for (const HtmlNode* row : child->childNodes()) {
                if (isTag(*row, QLatin1StringView("tr"))) {
                    target.push_back(row);
                }
            }
        }
    }
    std::vector<const HtmlNode*> rows = std::move(head);
    rows.insert(rows.end(), body.begin(), body.end());
    rows.insert(rows.end(), foot.begin(), foot.end());

    std::vector<QStringList> cells;
    cells.reserve(rows.size());
    bool hasHeaderCells = false;
    qsizetype columns = 0;
    for (const HtmlNode* row : rows) {
        QStringList line;
        for (const HtmlNode* cell : row->childNodes()) {
            if (!cell->isElement()) {
                continue;
            }
            const bool th = cell->tagName() == QLatin1String("th");
            if (th || cell->tagName() == QLatin1String("td")) {
                hasHeaderCells = hasHeaderCells || th;
                line.append(renderCell(*cell, dryRun));
            }
        }
        columns = std::max(columns, line.size());
        cells.push_back(std::move(line));
    }
    if (columns == 0) {
        return {};
    }

    QString out;
    auto writeRow = [&out, columns](const QStringList& line) {
        out += QLatin1String("| ");
        for (qsizetype column = 0; column < columns; ++column) {
            if (column > 0) {
                out += QLatin1String(" | ");
            }
            if (column < line.size()) {
                out += line.at(column);
            }
        }
        out += QLatin1String(" |\n");
    };
    std::size_t first = 0;
    if (hasHeaderCells) {
        writeRow(cells.front());
        first = 1;
    } else {
        QStringList names;
        for (qsizetype column = 1; column <= columns; ++column) {
            names.append(QStringLiteral("Col ") + QString::number(column));
        }
        writeRow(names);
    }
    out += QLatin1Char('|');
    for (qsizetype column = 0; column < columns; ++column) {
        out += QLatin1String(" --- |");
    }
    out += QLatin1Char('\n');
    for (std::size_t row = first; row < cells.size(); ++row) {
        writeRow(cells[row]);
    }
    return out;
}

QString MarkdownNodeRenderer::processReferencedMessage(const HtmlNode& element)
{
    QString author = firstNonEmptyText(element, { &selectors().botHeaderText, &selectors().botHeaderTitle });
    if (author.isEmpty()) {
        author = QStringLiteral("Unknown");
    }
    QString text;
    if (const HtmlNode* textElement = element.selectFirst(selectors().referencedText)) {
        text = trimBlankLines(extractNodeText(*textElement));
    }
    QString out = QStringLiteral("> **") + author + QStringLiteral("**\n");
    if (!text.isEmpty()) {
        appendPrefixed(out, text, u"> ", u"> ", true);
        out += QLatin1Char('\n');
    }
    out += QLatin1String(">\n");
    return out;
}

#pragma once

#include "convert/MarkdownElementKind.h"

#include <QString>

class AssetDownloads;
class HtmlNode;
class MarkdownOutput;

// Turns the node tree of a message's content into Markdown, for one run of the conversion
// (the dry run or the real one): the run's flag and nesting depths live here, every node is
// classified once and written by the rule of its kind. Block constructs (paragraphs, lists,
// code blocks, tables, quotes) are separated by blank lines so that the result stays valid
// when every line is later prefixed with "> " for a callout.
class MarkdownNodeRenderer {
public:
    // A dry run counts the assets it meets; the real run also requests them.
    MarkdownNodeRenderer(AssetDownloads& assets, bool dryRun);

    // Appends the element's Markdown with `prefix` in front of every line, surrounding blank
    // lines trimmed.
    void processMessageContent(const HtmlNode& element, QStringView prefix, MarkdownOutput& out);
    // The converter renders through processMessageContent; these two stay as the renderer's
    // entry points for an element's children and for one node.
    QString processChildren(const HtmlNode& element);
    QString convertNodeToMarkdown(const HtmlNode& node);
    // A fenced block: "```" + language, the code, the closing fence (no surrounding blank lines).
    static QString processCodeBlock(const HtmlNode& element);
    static QString extractCodeText(const HtmlNode& node);
    QString processTable(const HtmlNode& table);
    static QString processReferencedMessage(const HtmlNode& element);
    // Plain text with a line break after each "p", "div", "tr" and "li" and at each "br".
    static QString extractNodeText(const HtmlNode& node);

private:
    void renderChildren(const HtmlNode& element, MarkdownOutput& out);
    void renderNode(const HtmlNode& node, MarkdownOutput& out);
    void renderElement(const HtmlNode& element, MarkdownElementKind kind, MarkdownOutput& out);
    void renderLink(const HtmlNode& link, MarkdownOutput& out);
    void renderQuote(const HtmlNode& quote, MarkdownOutput& out);
    void renderList(const HtmlNode& list, bool ordered, MarkdownOutput& out);
    void renderDelimited(const HtmlNode& element, QLatin1StringView delimiter, MarkdownOutput& out);
    void renderDetails(const HtmlNode& summary, const HtmlNode& quote, MarkdownOutput& out);
    QString renderCell(const HtmlNode& cell);

    AssetDownloads& assets_;
    const bool dryRun_;
    int depth_ = 0;
    int prefixedDepth_ = 0;   // quotes and lists open around the current node
};

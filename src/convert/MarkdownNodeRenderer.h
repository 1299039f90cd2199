#pragma once

#include <QString>

class AssetDownloads;
class HtmlNode;

// Turns the node tree of one message's content into Markdown. Block constructs (paragraphs,
// lists, code blocks, tables, quotes) are separated by blank lines so that the result stays
// valid when every line is later prefixed with "> " for a callout.
class MarkdownNodeRenderer {
public:
    explicit MarkdownNodeRenderer(AssetDownloads& assets);

    // The element's Markdown with `prefix` in front of every line, surrounding blank lines
    // trimmed.
    QString processMessageContent(const HtmlNode& element, const QString& prefix, bool dryRun);
    QString processChildren(const HtmlNode& element, bool dryRun);
    QString convertNodeToMarkdown(const HtmlNode& element, bool dryRun);
    // A fenced block: "```" + language, the code, the closing fence (no surrounding blank lines).
    QString processCodeBlock(const HtmlNode& element);
    static QString extractCodeText(const HtmlNode& node);
    QString processTable(const HtmlNode& table, bool dryRun);
    QString processReferencedMessage(const HtmlNode& element);
    static QString extractNodeText(const HtmlNode& node);

private:
    void appendChildren(const HtmlNode& element, QString& out, bool dryRun);
    void appendNode(const HtmlNode& element, QString& out, bool dryRun);
    void appendList(const HtmlNode& list, bool ordered, QString& out, bool dryRun);
    void appendDelimited(const HtmlNode& element, QLatin1StringView delimiter, QString& out, bool dryRun);
    QString renderCell(const HtmlNode& cell, bool dryRun);

    AssetDownloads& assets_;
    int depth_ = 0;
    int prefixedDepth_ = 0;   // quotes and lists open around the current node
};

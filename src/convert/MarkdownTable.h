#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class HtmlNode;

// The layout of a Markdown table: which rows and cells of a "table" element it shows, and the
// pipe table written from the cells' rendered text.
class MarkdownTable {
public:
    // Rows of this table only (not of tables nested in its cells): head, body, then foot.
    static std::vector<const HtmlNode*> rows(const HtmlNode& table);
    // The "th" and "td" cells of a row, in order.
    static std::vector<const HtmlNode*> cells(const HtmlNode& row);
    static bool isHeaderCell(const HtmlNode& cell);

    // The table from each row's cell texts; the first row is the header when the table has
    // header cells, else the columns are named "Col 1", "Col 2", ... Empty when no row has a
    // cell.
    static QString write(const std::vector<QStringList>& rows, bool hasHeaderCells);
};

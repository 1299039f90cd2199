#include "convert/MarkdownTable.h"

#include "convert/HtmlNode.h"

#include <algorithm>

std::vector<const HtmlNode*> MarkdownTable::rows(const HtmlNode& table)
{
    std::vector<const HtmlNode*> head;
    std::vector<const HtmlNode*> body;
    std::vector<const HtmlNode*> foot;
    for (const HtmlNode* child : table.childNodes()) {
        if (!child->isElement()) {
            continue;
        }
        const GumboTag tag = child->tag();
        auto& target = tag == GUMBO_TAG_THEAD ? head : tag == GUMBO_TAG_TFOOT ? foot : body;
        if (tag == GUMBO_TAG_TR) {
            body.push_back(child);
        } else if (tag == GUMBO_TAG_THEAD || tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_TFOOT) {
            for (const HtmlNode* row : child->childNodes()) {
                if (row->isElement() && row->tag() == GUMBO_TAG_TR) {
                    target.push_back(row);
                }
            }
        }
    }
    std::vector<const HtmlNode*> rows = std::move(head);
    rows.insert(rows.end(), body.begin(), body.end());
    rows.insert(rows.end(), foot.begin(), foot.end());
    return rows;
}

std::vector<const HtmlNode*> MarkdownTable::cells(const HtmlNode& row)
{
    std::vector<const HtmlNode*> cells;
    for (const HtmlNode* cell : row.childNodes()) {
        if (cell->isElement() && (isHeaderCell(*cell) || cell->tag() == GUMBO_TAG_TD)) {
            cells.push_back(cell);
        }
    }
    return cells;
}

bool MarkdownTable::isHeaderCell(const HtmlNode& cell)
{
    return cell.isElement() && cell.tag() == GUMBO_TAG_TH;
}

QString MarkdownTable::write(const std::vector<QStringList>& rows, bool hasHeaderCells)
{
    qsizetype columns = 0;
    for (const QStringList& line : rows) {
        columns = std::max(columns, line.size());
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
        writeRow(rows.front());
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
    for (std::size_t row = first; row < rows.size(); ++row) {
        writeRow(rows[row]);
    }
    return out;
}

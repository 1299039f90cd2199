// The notes must be valid GitHub-flavoured Markdown: tables parse as tables and fenced code as
// code blocks, inside the "> " callouts and, with the callout prefix taken away, on their own.

#include "ConverterTestSupport.h"

#include <QStringList>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

using convtest::body;
using convtest::convert;
using convtest::page;

namespace {

struct Block {
    bool table = false;      // else a code block
    bool inQuote = false;
    int rows = 0;            // tables: header and body rows
    int columns = 0;
    QString literal;         // code blocks: the code; tables: the first body row's cells joined by "|"
    QString info;
};

struct Structure {
    int topLevelQuotes = 0;
    std::vector<Block> blocks;
};

QString nodeText(cmark_node* node)
{
    QString text;
    cmark_iter* iter = cmark_iter_new(node);
    cmark_event_type event;
    while ((event = cmark_iter_next(iter)) != CMARK_EVENT_DONE) {
        cmark_node* current = cmark_iter_get_node(iter);
        if (event == CMARK_EVENT_ENTER) {
            const cmark_node_type type = cmark_node_get_type(current);
            if (type == CMARK_NODE_TEXT || type == CMARK_NODE_CODE) {
                text += QString::fromUtf8(cmark_node_get_literal(current));
            }
        }
    }
    cmark_iter_free(iter);
    return text;
}

Structure parse(const QString& markdown)
{
    cmark_gfm_core_extensions_ensure_registered();
    std::unique_ptr<cmark_parser, decltype(&cmark_parser_free)> parser(
        cmark_parser_new(CMARK_OPT_DEFAULT), &cmark_parser_free);
    cmark_parser_attach_syntax_extension(parser.get(), cmark_find_syntax_extension("table"));
    const QByteArray utf8 = markdown.toUtf8();
    cmark_parser_feed(parser.get(), utf8.constData(), static_cast<size_t>(utf8.size()));
    std::unique_ptr<cmark_node, decltype(&cmark_node_free)> document(
        cmark_parser_finish(parser.get()), &cmark_node_free);

    Structure structure;
    for (cmark_node* child = cmark_node_first_child(document.get()); child; child = cmark_node_next(child)) {
        if (cmark_node_get_type(child) == CMARK_NODE_BLOCK_QUOTE) {
            ++structure.topLevelQuotes;
        }
    }
    cmark_iter* iter = cmark_iter_new(document.get());
    cmark_event_type event;
    while ((event = cmark_iter_next(iter)) != CMARK_EVENT_DONE) {
        if (event != CMARK_EVENT_ENTER) {
            continue;
        }
        cmark_node* node = cmark_iter_get_node(iter);
        const bool code = cmark_node_get_type(node) == CMARK_NODE_CODE_BLOCK;
        const bool table = std::strcmp(cmark_node_get_type_string(node), "table") == 0;
        if (!code && !table) {
            continue;
        }
        Block block;
        block.table = table;
        for (cmark_node* up = cmark_node_parent(node); up; up = cmark_node_parent(up)) {
            block.inQuote = block.inQuote || cmark_node_get_type(up) == CMARK_NODE_BLOCK_QUOTE;
        }
        if (code) {
            block.literal = QString::fromUtf8(cmark_node_get_literal(node));
            block.info = QString::fromUtf8(cmark_node_get_fence_info(node));
        } else {
            block.columns = cmark_gfm_extensions_get_table_columns(node);
            for (cmark_node* row = cmark_node_first_child(node); row; row = cmark_node_next(row)) {
                ++block.rows;
                if (block.rows == 2) {
                    QStringList cells;
                    for (cmark_node* cell = cmark_node_first_child(row); cell; cell = cmark_node_next(cell)) {
                        cells.append(nodeText(cell));
                    }
                    block.literal = cells.join(QLatin1Char('|'));
                }
            }
        }
        structure.blocks.push_back(block);
    }
    cmark_iter_free(iter);
    return structure;
}

// The contents of every callout with the "> " prefix and the callout's title line removed.
QString withoutCallouts(const QString& note)
{
    QStringList lines;
    bool inCallout = false;
    for (const QString& line : note.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("> [!"))) {
            inCallout = true;
            lines.append(QString());
            continue;
        }
        if (inCallout && line.startsWith(QLatin1Char('>'))) {
            lines.append(line.mid(line.startsWith(QLatin1String("> ")) ? 2 : 1));
            continue;
        }
        inCallout = false;
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

struct Case {
    const char* page;
    int callouts;
    int tables;
    int codeBlocks;
};

TEST(GfmStructure, FixtureNotesKeepTheirTablesAndCodeBlocks)
{
    const Case cases[] = {
        { "nodes.html", 1, 1, 2 },
        { "code.html", 1, 0, 3 },
        { "tables.html", 1, 2, 0 },
        { "details.html", 1, 0, 0 },
        { "referenced.html", 2, 0, 0 },
        { "user-messages.html", 1, 0, 0 },
        { "day-groups.html", 7, 0, 0 },
        { "bot-name-headers.html", 6, 0, 0 },
        { "attachments.html", 1, 0, 0 },
    };
    for (const Case& c : cases) {
        const QString note = body(convert(page(QString::fromLatin1(c.page))).note);
        const Structure inside = parse(note);
        EXPECT_EQ(inside.topLevelQuotes, c.callouts) << c.page;
        const Structure outside = parse(withoutCallouts(note));
        for (const Structure* structure : { &inside, &outside }) {
            const bool callouts = structure == &inside;
            int tables = 0;
            int codeBlocks = 0;
            for (const Block& block : structure->blocks) {
                (block.table ? tables : codeBlocks) += 1;
                if (callouts) {
                    EXPECT_TRUE(block.inQuote) << c.page;
                }
            }
            EXPECT_EQ(tables, c.tables) << c.page << (callouts ? " in callouts" : " on its own");
            EXPECT_EQ(codeBlocks, c.codeBlocks) << c.page << (callouts ? " in callouts" : " on its own");
        }
    }
}

TEST(GfmStructure, CodeWithFencesInsideStaysOneBlock)
{
    const Structure structure = parse(body(convert(page(QStringLiteral("code.html"))).note));
    ASSERT_EQ(structure.blocks.size(), 3U);
    EXPECT_EQ(structure.blocks[0].info, QStringLiteral("markdown"));
    EXPECT_EQ(structure.blocks[0].literal,
        QStringLiteral("Use a fence:\n```js\nlet x = 1;\n```\nand ```` four.\n"));
    EXPECT_EQ(structure.blocks[1].literal, QStringLiteral("no language\n\nkept blank line\n"));
    EXPECT_EQ(structure.blocks[2].info, QStringLiteral("sh"));
    EXPECT_EQ(structure.blocks[2].literal, QStringLiteral("ls -l\n"));
}

TEST(GfmStructure, TableCellsKeepTheirBars)
{
    const Structure structure = parse(body(convert(page(QStringLiteral("tables.html"))).note));
    ASSERT_EQ(structure.blocks.size(), 2U);
    EXPECT_EQ(structure.blocks[0].columns, 3);
    EXPECT_EQ(structure.blocks[0].rows, 4);
    EXPECT_EQ(structure.blocks[0].literal, QStringLiteral("a|b|either a | b|"));
    EXPECT_EQ(structure.blocks[1].columns, 2);
    EXPECT_EQ(structure.blocks[1].rows, 3);
    EXPECT_EQ(structure.blocks[1].literal, QStringLiteral("1|2"));
}

} // namespace

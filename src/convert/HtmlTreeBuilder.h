#pragma once

#include "convert/HtmlNode.h"

#include <gumbo.h>

#include <QString>
#include <QStringDecoder>

#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class HtmlParseArena;

// Copies gumbo's tree into the compact form of HtmlNode: one array of nodes in document
// order, one of attributes and large blocks of text holding every text, attribute name and
// value, so the copy makes no allocation per node. Tag names are the process-wide names of
// gumbo's tags; only names gumbo does not know are kept per document.
// Each of gumbo's nodes is handed back to its arena as soon as it is copied (an element once
// its children are), so the copy takes the place of gumbo's tree rather than adding to it.
//
// Below HtmlDocument::maxDepth nothing nests: what gumbo puts inside a child of the element at
// that depth is attached, in document order, to the element at the limit (the text of a
// script or style stays in its element, where it is no readable text).
class HtmlTreeBuilder {
public:
    struct FreeMemory {
        void operator()(void* memory) const { std::free(memory); }
    };
    struct Tree {
        // Raw memory in which each node and attribute is made as it is copied, so that the
        // pages are filled while gumbo's are given back (both types need no destruction).
        std::unique_ptr<HtmlNode[], FreeMemory> nodes;
        std::unique_ptr<HtmlAttribute[], FreeMemory> attributes;
        std::vector<std::unique_ptr<char16_t[]>> text;
        // Names gumbo does not know, and lower-cased names longer than the name as written.
        std::deque<QString> names;
    };

    // `arena` holds gumbo's output and gets each node back once it is copied. Throws
    // ParseError when the page has more nodes than a node can count.
    static Tree build(const GumboNode* root, int maxDepth, HtmlParseArena& arena);

private:
    struct UnknownTag {
        const QString* name;
        GumboTag tag;   // the known tag the lower-cased name reads as, if any
    };

    // Text blocks hold this many UTF-16 units (1 MiB), or a longer text on its own.
    static constexpr std::size_t kTextChunkUnits = 512 * 1024;

    HtmlTreeBuilder(Tree& tree, HtmlParseArena& arena) : tree_(tree), arena_(arena) {}

    void copy(const GumboNode* root, int maxDepth);
    void fillElement(HtmlNode& node, const GumboNode& gumbo);
    void fillText(HtmlNode& node, const GumboNode& gumbo);
    const UnknownTag& unknownTag(const GumboElement& element);
    // Room for `units` more UTF-16 units of text, in the current block or a new one.
    char16_t* textSpace(std::size_t units);
    QStringView appendText(const char* utf8, std::size_t size);
    QStringView appendAttributeName(const char* name);
    // Gives back what gumbo allocated for the node itself (not its children), as its own
    // destruction of the tree would.
    void release(const GumboNode* node);

    Tree& tree_;
    HtmlParseArena& arena_;
    std::size_t nodeCapacity_ = 0;
    std::size_t attributeCapacity_ = 0;
    std::size_t nextNode_ = 0;
    std::size_t nextAttribute_ = 0;
    char16_t* textEnd_ = nullptr;
    char16_t* textLimit_ = nullptr;
    std::unordered_map<std::string, UnknownTag> unknownTags_;
    std::string lowered_;
    // Stateless: each text is decoded on its own, exactly as QString::fromUtf8 would.
    QStringDecoder decoder_{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

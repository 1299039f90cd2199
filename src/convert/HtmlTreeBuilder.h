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

class HtmlParseArena;

// Copies gumbo's tree into the compact form of HtmlNode: one array of nodes in document
// order, one of attributes and one buffer holding every text, attribute name and value, each
// sized by a counting pass, so the copy makes no allocation per node. Tag names are the
// process-wide names of gumbo's tags; only names gumbo does not know are kept per document.
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
        std::unique_ptr<char16_t[]> text;
        // Names gumbo does not know, and lower-cased names that do not fit the buffer.
        std::deque<QString> names;
        std::size_t nodeCount = 0;
        std::size_t attributeCount = 0;
        std::size_t textSize = 0;
        std::size_t textCapacity = 0;
    };

    // `arena` holds gumbo's output and gets each node back once it is copied. Throws
    // ParseError when the page has more nodes than a node can count.
    static Tree build(const GumboNode* root, int maxDepth, HtmlParseArena& arena);
    // Moves the text into a buffer of its exact size when the counting pass overestimated it
    // by much (text outside ASCII), and points every node and attribute there. Called once
    // gumbo's tree is gone, so that the two buffers never live beside it.
    static void fitText(Tree& tree);

private:
    struct UnknownTag {
        const QString* name;
        GumboTag tag;   // the known tag the lower-cased name reads as, if any
    };

    struct Counts {
        std::size_t nodes = 0;
        std::size_t attributes = 0;
        std::size_t textUnits = 0;   // at most one UTF-16 unit per UTF-8 byte
    };

    // Where the walk over gumbo's tree stands in one element's children, and what the nodes
    // made from them hang on.
    struct Level {
        const GumboNode* owner = nullptr;   // the element whose children they are
        const GumboVector* children = nullptr;
        unsigned next = 0;
        std::uint32_t parent = 0;   // the index of the node they are attached to
        int depth = 0;              // the depth of the nodes made from them
    };

    HtmlTreeBuilder(Tree& tree, HtmlParseArena& arena) : tree_(tree), arena_(arena) {}

    // Visits gumbo's kept nodes in document order, `root` first, with the level each was met
    // at; a visit pushes a level for the node's children when they are to be walked, and
    // `leave` gets each level when its last child is done, `skip` each node not kept. The
    // stack holds one level per open element, never a whole list of children.
    template <typename Visit, typename Leave, typename Skip>
    static void walk(const GumboNode* root, Visit&& visit, Leave&& leave, Skip&& skip);

    static Counts count(const GumboNode* root);
    void copy(const GumboNode* root, int maxDepth);
    void fillElement(HtmlNode& node, const GumboNode& gumbo);
    void fillText(HtmlNode& node, const GumboNode& gumbo);
    const UnknownTag& unknownTag(const GumboElement& element);
    QStringView appendText(const char* utf8, std::size_t size);
    QStringView appendAttributeName(const char* name);
    // Gives back what gumbo allocated for the node itself (not its children), as its own
    // destruction of the tree would.
    void release(const GumboNode* node);

    Tree& tree_;
    HtmlParseArena& arena_;
    std::size_t nextNode_ = 0;
    std::size_t nextAttribute_ = 0;
    char16_t* textEnd_ = nullptr;
    std::unordered_map<std::string, UnknownTag> unknownTags_;
    std::string lowered_;
    // Stateless: each text is decoded on its own, exactly as QString::fromUtf8 would.
    QStringDecoder decoder_{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
};

#include "convert/HtmlTreeBuilder.h"

#include "convert/HtmlDocument.h"
#include "convert/HtmlParseArena.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

namespace {

// Elements that start and end a block of text: text() puts a blank between their text and
// what surrounds them, so "<p>a</p><p>b</p>" reads "a b" and not "ab".
bool isBlockTag(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_HTML: case GUMBO_TAG_HEAD: case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_CAPTION: case GUMBO_TAG_CENTER:
    case GUMBO_TAG_COL: case GUMBO_TAG_COLGROUP: case GUMBO_TAG_DD: case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR: case GUMBO_TAG_DIV: case GUMBO_TAG_DL:
    case GUMBO_TAG_DT: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE: case GUMBO_TAG_FOOTER: case GUMBO_TAG_FORM: case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4:
    case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_HEADER: case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR: case GUMBO_TAG_LEGEND: case GUMBO_TAG_LI: case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN: case GUMBO_TAG_MENU: case GUMBO_TAG_NAV: case GUMBO_TAG_OL:
    case GUMBO_TAG_OPTGROUP: case GUMBO_TAG_OPTION: case GUMBO_TAG_P:
    case GUMBO_TAG_PLAINTEXT: case GUMBO_TAG_PRE: case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY: case GUMBO_TAG_TABLE: case GUMBO_TAG_TBODY: case GUMBO_TAG_TD:
    case GUMBO_TAG_TFOOT: case GUMBO_TAG_TH: case GUMBO_TAG_THEAD: case GUMBO_TAG_TR:
    case GUMBO_TAG_UL: case GUMBO_TAG_XMP:
        return true;
    default:
        return false;
    }
}

// The names of gumbo's tags, made once for the process.
const QString& knownTagName(GumboTag tag)
{
    static const std::array<QString, GUMBO_TAG_LAST> names = [] {
        std::array<QString, GUMBO_TAG_LAST> made;
        for (int t = 0; t < GUMBO_TAG_LAST; ++t)
            made[std::size_t(t)] = QString::fromLatin1(gumbo_normalized_tagname(GumboTag(t)));
        return made;
    }();
    return names[std::size_t(tag)];
}

bool keptNode(const GumboNode* n)
{
    switch (n->type) {
    case GUMBO_NODE_ELEMENT: case GUMBO_NODE_TEMPLATE: case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE: case GUMBO_NODE_CDATA:
        return true;
    default:
        return false;
    }
}

bool isElementNode(const GumboNode* n)
{
    return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}

const GumboVector* keptChildren(const GumboNode* n)
{
    // Template contents are inert and are dropped.
    return n->type == GUMBO_NODE_ELEMENT ? &n->v.element.children : nullptr;
}

const GumboNode* childAt(const GumboVector& children, unsigned i)
{
    return static_cast<const GumboNode*>(children.data[i]);
}

// Memory for `count` objects that are made one by one later.
template <typename T>
T* rawArray(std::size_t count)
{
    static_assert(std::is_trivially_destructible_v<T>);
    if (count == 0)
        return nullptr;
    void* memory = std::malloc(count * sizeof(T));
    if (!memory)
        throw std::bad_alloc();
    return static_cast<T*>(memory);
}

} // namespace

HtmlTreeBuilder::Tree HtmlTreeBuilder::build(const GumboNode* root, int maxDepth, HtmlParseArena& arena)
{
    // Every node and attribute of gumbo's is an object of its size in the arena, so the arena's
    // count of such objects bounds how many the copy makes: no walk is needed to count them
    // (the part of the arrays left over is never touched).
    const std::size_t nodeCapacity = arena.liveObjects(sizeof(GumboNode));
    const std::size_t attributeCapacity = arena.liveObjects(sizeof(GumboAttribute));
    if (nodeCapacity > UINT32_MAX)
        throw ParseError("The page has too many nodes");
    Tree tree;
    tree.nodes.reset(rawArray<HtmlNode>(nodeCapacity));
    tree.attributes.reset(rawArray<HtmlAttribute>(attributeCapacity));

    HtmlTreeBuilder builder(tree, arena);
    builder.nodeCapacity_ = nodeCapacity;
    builder.attributeCapacity_ = attributeCapacity;
    arena.releaseEmptyBlocks();
    builder.copy(root, maxDepth);
    return tree;
}

// Nodes go into the array in document order (pre-order), each with the distance back to its
// parent; then the subtree sizes are summed from the back. The walk keeps one level per open
// element, never a whole list of children, and gives each of gumbo's nodes back once it is
// copied (an element once its children are).
void HtmlTreeBuilder::copy(const GumboNode* root, int maxDepth)
{
    struct Level {
        const GumboNode* owner;        // the element whose children these are
        unsigned next;
        std::uint32_t parent;          // the index of the node they are attached to
        int depth;                     // the depth of the nodes made from them
    };
    HtmlNode* nodes = tree_.nodes.get();
    std::vector<Level> stack;
    const auto make = [&](const GumboNode* gumbo, std::uint32_t parent, int depth) {
        if (nextNode_ == nodeCapacity_)
            throw ParseError("The page's tree could not be copied");
        const auto index = std::uint32_t(nextNode_++);
        HtmlNode& node = *new (nodes + index) HtmlNode();
        if (gumbo != root)
            node.parentOffset_ = index - parent;
        if (isElementNode(gumbo))
            fillElement(node, *gumbo);
        else
            fillText(node, *gumbo);
        const GumboVector* children = keptChildren(gumbo);
        if (!children || children->length == 0)
            release(gumbo);
        else if (depth > maxDepth && !(node.flags_ & HtmlNode::RawTextFlag))
            stack.push_back({gumbo, 0, parent, depth});
        else
            stack.push_back({gumbo, 0, index, depth + 1});
    };
    make(root, 0, 1);   // the root is at depth 1
    while (!stack.empty()) {
        Level& level = stack.back();
        const GumboVector& children = level.owner->v.element.children;
        if (level.next == children.length) {
            const GumboNode* done = level.owner;
            stack.pop_back();
            release(done);
            continue;
        }
        // gumbo's nodes lie far apart: ask for the next sibling but one while this one is read.
        if (level.next + 2 < children.length)
            __builtin_prefetch(children.data[level.next + 2]);
        const GumboNode* child = childAt(children, level.next++);
        if (keptNode(child))
            make(child, level.parent, level.depth);
        else
            release(child);
    }
    for (std::size_t i = nextNode_; i-- > 1;) {
        const HtmlNode& n = nodes[i];
        if (n.parentOffset_)
            nodes[i - n.parentOffset_].subtreeSize_ += n.subtreeSize_;
    }
}

void HtmlTreeBuilder::release(const GumboNode* node)
{
    switch (node->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE: {
        // A template's content is not walked: it stays in the arena until the arena goes.
        const GumboElement& e = node->v.element;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            auto* a = static_cast<GumboAttribute*>(e.attributes.data[i]);
            arena_.deallocate(const_cast<char*>(a->name));
            arena_.deallocate(const_cast<char*>(a->value));
            arena_.deallocate(a);
        }
        arena_.deallocate(e.attributes.data);
        arena_.deallocate(e.children.data);
        break;
    }
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
    case GUMBO_NODE_COMMENT:
        arena_.deallocate(const_cast<char*>(node->v.text.text));
        break;
    default:
        return;   // the document node never appears below the root
    }
    arena_.deallocate(const_cast<GumboNode*>(node));
}

void HtmlTreeBuilder::fillElement(HtmlNode& node, const GumboNode& gumbo)
{
    const GumboElement& e = gumbo.v.element;
    node.kind_ = HtmlNode::Kind::Element;
    if (e.tag != GUMBO_TAG_UNKNOWN) {
        node.name_ = &knownTagName(e.tag);
        node.tag_ = std::uint16_t(e.tag);
    } else {
        const UnknownTag& unknown = unknownTag(e);
        node.name_ = unknown.name;
        node.tag_ = std::uint16_t(unknown.tag);
    }
    // gumbo knows "dialog" only as an unknown tag.
    if (isBlockTag(e.tag) || (e.tag == GUMBO_TAG_UNKNOWN && *node.name_ == u"dialog"))
        node.flags_ |= HtmlNode::BlockFlag;
    if (e.tag == GUMBO_TAG_BR)
        node.flags_ |= HtmlNode::BreakFlag;
    if (e.tag == GUMBO_TAG_SCRIPT || e.tag == GUMBO_TAG_STYLE)
        node.flags_ |= HtmlNode::RawTextFlag;
    if (e.attributes.length == 0)
        return;
    if (attributeCapacity_ - nextAttribute_ < e.attributes.length)
        throw ParseError("The page's tree could not be copied");
    HtmlAttribute* attrs = tree_.attributes.get() + nextAttribute_;
    nextAttribute_ += e.attributes.length;
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const QStringView name = appendAttributeName(a->name);
        new (attrs + i) HtmlAttribute{name, appendText(a->value, std::strlen(a->value))};
    }
    node.attrs_ = attrs;
    node.count_ = e.attributes.length;
}

void HtmlTreeBuilder::fillText(HtmlNode& node, const GumboNode& gumbo)
{
    node.kind_ = HtmlNode::Kind::Text;
    const QStringView text = appendText(gumbo.v.text.text, std::strlen(gumbo.v.text.text));
    node.text_ = text.data();
    node.count_ = std::uint32_t(text.size());
}

const HtmlTreeBuilder::UnknownTag& HtmlTreeBuilder::unknownTag(const GumboElement& element)
{
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    lowered_.assign(piece.data ? piece.data : "", piece.length);
    for (char& ch : lowered_) {
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    }
    auto it = unknownTags_.find(lowered_);
    if (it == unknownTags_.end()) {
        const QString& name = tree_.names.emplace_back(
            QString::fromUtf8(lowered_.data(), qsizetype(lowered_.size())).toLower());
        // A name that reads as a known tag once lower-cased (a Kelvin sign for a "k") stands
        // for that tag, as its name says.
        const QByteArray utf8 = name.toUtf8();
        const GumboTag tag = gumbo_tagn_enum(utf8.constData(), unsigned(utf8.size()));
        it = unknownTags_.emplace(lowered_, UnknownTag{&name, tag}).first;
    }
    return it->second;
}

char16_t* HtmlTreeBuilder::textSpace(std::size_t units)
{
    if (std::size_t(textLimit_ - textEnd_) < units) {
        const std::size_t size = std::max(kTextChunkUnits, units);
        tree_.text.push_back(std::make_unique_for_overwrite<char16_t[]>(size));
        textEnd_ = tree_.text.back().get();
        textLimit_ = textEnd_ + size;
    }
    return textEnd_;
}

QStringView HtmlTreeBuilder::appendText(const char* utf8, std::size_t size)
{
    // UTF-8 never takes fewer bytes than UTF-16 takes units.
    char16_t* start = textSpace(size);
    textEnd_ = reinterpret_cast<char16_t*>(decoder_.appendToBuffer(
        reinterpret_cast<QChar*>(start), QByteArrayView(utf8, qsizetype(size))));
    return QStringView(start, textEnd_ - start);
}

QStringView HtmlTreeBuilder::appendAttributeName(const char* name)
{
    const std::size_t size = std::strlen(name);
    bool ascii = true;
    for (std::size_t i = 0; i < size; ++i)
        ascii = ascii && (static_cast<unsigned char>(name[i]) < 0x80);
    if (ascii) {
        char16_t* start = textSpace(size);
        for (std::size_t i = 0; i < size; ++i) {
            const char ch = name[i];
            *textEnd_++ = char16_t(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        }
        return QStringView(start, textEnd_ - start);
    }
    QString lowered = QString::fromUtf8(name, qsizetype(size)).toLower();
    if (std::size_t(lowered.size()) <= size) {
        char16_t* start = textSpace(size);
        std::memcpy(start, lowered.utf16(), std::size_t(lowered.size()) * sizeof(char16_t));
        textEnd_ += lowered.size();
        return QStringView(start, textEnd_ - start);
    }
    tree_.names.push_back(std::move(lowered));
    return tree_.names.back();
}

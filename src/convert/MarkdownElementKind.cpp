#include "convert/MarkdownElementKind.h"

#include "convert/AssetDownloads.h"
#include "convert/HtmlNode.h"

namespace {

using Kind = MarkdownElementKind;

// The kinds decided by the tag alone, after the class tests.
Kind kindOfTag(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_IMG: return Kind::Image;
    case GUMBO_TAG_VIDEO: case GUMBO_TAG_AUDIO: return Kind::Media;
    case GUMBO_TAG_A: return Kind::Link;
    case GUMBO_TAG_TABLE: return Kind::Table;
    case GUMBO_TAG_BLOCKQUOTE: return Kind::Quote;
    case GUMBO_TAG_CODE: return Kind::InlineCode;
    case GUMBO_TAG_STRONG: case GUMBO_TAG_B: return Kind::Strong;
    case GUMBO_TAG_EM: case GUMBO_TAG_I: return Kind::Emphasis;
    case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3:
    case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6: return Kind::Heading;
    case GUMBO_TAG_UL: return Kind::UnorderedList;
    case GUMBO_TAG_OL: return Kind::OrderedList;
    case GUMBO_TAG_HR: return Kind::Rule;
    case GUMBO_TAG_BR: return Kind::Break;
    case GUMBO_TAG_P: case GUMBO_TAG_DIV: return Kind::Block;
    default: return Kind::Other;
    }
}

} // namespace

MarkdownElementKind markdownElementKind(const HtmlNode& node)
{
    if (!node.isElement()) {
        return Kind::Text;
    }
    const QStringView cls = node.attrView(u"class");
    if (!cls.isEmpty()) {
        if (cls.contains(QLatin1String("ReferencedMessage_container"))) {
            return Kind::ReferencedMessage;
        }
        if (cls.contains(QLatin1String("MarkdownImage_imageContainer"))) {
            return Kind::ImageContainer;
        }
        if (cls.contains(QLatin1String("MarkdownCodeBlock"))) {
            return Kind::CodeBlock;
        }
    }
    if (node.tag() == GUMBO_TAG_PRE) {
        return Kind::CodeBlock;
    }
    const Kind kind = kindOfTag(node.tag());
    if (kind == Kind::Link && AssetDownloads::isAttachment(node)) {
        return Kind::Attachment;
    }
    return kind;
}

#pragma once

#include <cstdint>

class HtmlNode;

// What the renderer makes of a node, decided once from its tag and class: the first rule of
// the node table that the node meets (the class tests come before the tags).
enum class MarkdownElementKind : std::uint8_t {
    Text,
    ReferencedMessage,   // class contains "ReferencedMessage_container"
    ImageContainer,      // class contains "MarkdownImage_imageContainer": its children
    CodeBlock,           // "pre", or class contains "MarkdownCodeBlock"
    Image,
    Media,               // "video", "audio"
    Attachment,          // an "a" that is an attachment
    Link,                // any other "a"
    Table,
    Quote,
    InlineCode,
    Strong,              // "strong", "b"
    Emphasis,            // "em", "i"
    Heading,             // "h1" to "h6"
    UnorderedList,
    OrderedList,
    Rule,
    Break,
    Block,               // "p", "div"
    Other,               // its children
};

MarkdownElementKind markdownElementKind(const HtmlNode& node);

#pragma once

#include <gumbo.h>

#include <cstdint>
#include <initializer_list>

struct HtmlTagToken;

// The groups of HTML tags the tree builder's rules name, as gumbo 0.10.1 has them (where it
// differs from today's rules, gumbo's way counts: the model must follow the parser it guards).
class HtmlTagGroups {
public:
    static bool isOneOf(GumboTag tag, std::initializer_list<GumboTag> tags);
    static bool isHeading(GumboTag tag);
    static bool isFormatting(GumboTag tag);
    // Start tags that close an open p (in button scope) before their element opens.
    static bool closesParagraph(GumboTag tag);
    // End tags that close their element when it is in scope, whatever is open inside it.
    static bool isBlockEndTag(GumboTag tag);
    // Elements the tree builder opens and closes at once.
    static bool isVoid(GumboTag tag);
    static bool isTablePart(GumboTag tag);
    // Start tags that leave foreign content (svg, math) for HTML again.
    static bool breaksOutOfForeignContent(const HtmlTagToken& token);
    static bool isHiddenInput(const HtmlTagToken& token);
    // Start tags that tell the parser the page is no frameset.
    static bool endsFramesetOk(const HtmlTagToken& token);
    // The HtmlOpenElementStack groups of an HTML element.
    static std::uint16_t htmlGroups(GumboTag tag);
};

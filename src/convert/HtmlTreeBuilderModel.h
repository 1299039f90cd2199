#pragma once

#include "convert/HtmlBodyRules.h"
#include "convert/HtmlTableRules.h"
#include "convert/HtmlTagScanner.h"
#include "convert/HtmlTreeBuilderState.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Follows the HTML tree builder gumbo 0.10.1 implements, token by token: its stack of open
// elements, its insertion modes and its list of active formatting elements, without building
// a tree. That is enough to know how deep each element lands, in time linear in the page.
//
// An element whose start tag would open deeper than `maxDepth` is closed again at once, as if
// its end tag followed its start tag: the caller writes that end tag into the page, so gumbo
// sees exactly the tokens modelled here.
class HtmlTreeBuilderModel {
public:
    explicit HtmlTreeBuilderModel(int maxDepth);

    struct StartTagOutcome {
        // The element was closed right after its start tag.
        bool flattened = false;
        // The tokenizer reads the element's content as text, up to its end tag.
        std::optional<HtmlTagScanner::TextMode> textMode;
    };
    StartTagOutcome startTag(const HtmlTagToken& token);
    void endTag(const HtmlTagToken& token);
    void text(bool whitespace);
    // `<!DOCTYPE ...>` as written: only "<!DOCTYPE html>" puts the document out of quirks mode
    // (the model takes any other doctype for one that keeps it there).
    void doctype(std::string_view text);

    // The current node is in foreign content, where "<![CDATA[" opens a CDATA section.
    bool cdataAllowed() const;
    // Elements the tree builder made anew from unclosed formatting (b, i, a, ...) so far.
    std::uint64_t reconstructed() const { return state_.reconstructed; }
    // Elements closed so far.
    std::uint64_t removals() const { return state_.stack.removals(); }

private:
    using Mode = HtmlTreeBuilderState::Mode;

    bool useHtmlRules(const HtmlTagToken& token) const;
    void startTagInMode(const HtmlTagToken& token);
    void endTagInMode(const HtmlTagToken& token);
    bool endTagInForeignContent(const HtmlTagToken& token);

    HtmlTreeBuilderState state_;
    HtmlBodyRules body_ {state_};
    HtmlTableRules tables_ {state_, body_};
    int maxDepth_;
};

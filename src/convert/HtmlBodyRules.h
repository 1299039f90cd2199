#pragma once

#include "convert/HtmlTreeBuilderState.h"

struct HtmlTagToken;

// The tree builder's rules for the head and for the body ("in head", "in head noscript",
// "after head" and "in body"), as gumbo 0.10.1 follows them, on the model's state.
class HtmlBodyRules {
public:
    explicit HtmlBodyRules(HtmlTreeBuilderState& state);

    // Before the body: true when the head took the token, false when the head is over and
    // the body reads it.
    bool startTagInHead(const HtmlTagToken& token);
    bool endTagInHead(const HtmlTagToken& token);

    void startTag(const HtmlTagToken& token);
    void endTag(const HtmlTagToken& token);

private:
    void anyOtherEndTag(const HtmlTagToken& token);

    HtmlTreeBuilderState& s_;
};

#pragma once

#include "convert/HtmlTreeBuilderState.h"

class HtmlBodyRules;
struct HtmlTagToken;

// The tree builder's rules inside tables and selects ("in table", "in table body", "in row",
// "in cell", "in caption", "in column group", "in select", "in select in table"), as gumbo
// 0.10.1 follows them; what they do not handle goes to the body rules.
class HtmlTableRules {
public:
    using Mode = HtmlTreeBuilderState::Mode;

    HtmlTableRules(HtmlTreeBuilderState& state, HtmlBodyRules& body);

    // True when the token is to be read again, in the mode it left the parser in.
    bool startTag(const HtmlTagToken& token, Mode mode);
    bool endTag(const HtmlTagToken& token, Mode mode);

private:
    bool startTagInTable(const HtmlTagToken& token, Mode mode);
    bool startTagInSelect(const HtmlTagToken& token, bool inTable);
    bool endTagInTable(const HtmlTagToken& token, Mode mode);
    bool endTagInSelect(const HtmlTagToken& token, bool inTable);

    HtmlTreeBuilderState& s_;
    HtmlBodyRules& body_;
};

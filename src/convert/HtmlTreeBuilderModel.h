#pragma once

#include "convert/HtmlOpenElementStack.h"
#include "convert/HtmlTagScanner.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Follows the HTML tree builder (the one gumbo implements) token by token: its stack of open
// elements, its insertion modes and its list of active formatting elements, without building
// a tree. That is enough to know how deep each element lands, in time linear in the page.
//
// An element whose start tag would open deeper than `maxDepth` is closed again at once, as if
// its end tag followed its start tag: the caller writes that end tag into the page, so the
// parser sees exactly the tokens modelled here. Where the model cannot tell what the parser
// does, it keeps elements open rather than closing them, so it never takes the tree for
// shallower than it is.
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

    // The current node is in foreign content, where "<![CDATA[" opens a CDATA section.
    bool cdataAllowed() const;
    int depth() const { return stack_.size(); }
    // Elements opened or closed so far other than for tags (formatting the tree builder
    // repeats in each new block, the closing of open elements).
    std::uint64_t reconstructed() const { return reconstructed_; }
    std::uint64_t removals() const { return stack_.removals(); }
    bool debugPushed() const { return pushedForToken_; }
    std::string debugStack() const { std::string s; for (int i = 0; i < stack_.size(); ++i) { s += gumbo_normalized_tagname(stack_.at(i).tag); s += " "; } return s; }

private:
    using Element = HtmlOpenElementStack::Element;
    using Namespace = HtmlOpenElementStack::Namespace;
    enum class Mode { Body, Table, TableBody, Row, Cell, Caption, ColumnGroup, Select, SelectInTable, Template };
    enum class Scope { Default, ListItem, Button, Table };

    struct FormattingEntry {
        bool marker = false;
        GumboTag tag = GUMBO_TAG_UNKNOWN;
        std::string_view attributes;   // as written, to tell identical elements apart
        std::uint32_t element = 0;     // id of the element on the stack
    };

    Mode mode() const;
    bool useHtmlRules(const HtmlTagToken& token) const;
    bool inScope(int position, Scope scope) const;
    bool tagInScope(GumboTag tag, Scope scope) const;
    int topmostOf(std::initializer_list<GumboTag> tags) const;
    bool currentIs(GumboTag tag) const;
    bool currentIsOneOf(std::initializer_list<GumboTag> tags) const;
    std::uint32_t internName(std::string_view name);

    std::uint32_t insertHtml(GumboTag tag, std::string_view name);
    void insertForeign(const HtmlTagToken& token, Namespace ns);
    void insertFormatting(const HtmlTagToken& token);
    void popUntilTag(GumboTag tag);
    void popWhileCurrentIn(std::initializer_list<GumboTag> tags);
    void popUntilCurrentIn(std::initializer_list<GumboTag> tags);
    void closePInButtonScope();
    void closeCell();
    void generateImpliedEndTags(GumboTag except);

    void pushMarker();
    void clearToLastMarker();
    int lastEntryAfterMarker(GumboTag tag) const;
    void removeEntry(int index);
    void reconstructFormatting();
    void adoptionAgency(const HtmlTagToken& token);

    bool inHead() const;
    bool startTagInHead(const HtmlTagToken& token, StartTagOutcome& outcome);
    bool endTagInHead(const HtmlTagToken& token);
    bool startTagInBody(const HtmlTagToken& token, StartTagOutcome& outcome);
    bool startTagInTable(const HtmlTagToken& token, StartTagOutcome& outcome, Mode mode);
    bool startTagInSelect(const HtmlTagToken& token, StartTagOutcome& outcome, bool inTable);
    void startTagInForeignContent(const HtmlTagToken& token);
    bool endTagInBody(const HtmlTagToken& token);
    bool endTagInTable(const HtmlTagToken& token, Mode mode);
    bool endTagInSelect(const HtmlTagToken& token, bool inTable);
    bool endTagInForeignContent(const HtmlTagToken& token);
    void anyOtherEndTag(const HtmlTagToken& token);

    HtmlOpenElementStack stack_;
    std::vector<FormattingEntry> formatting_;
    std::unordered_map<std::string, std::uint32_t> names_;
    std::string lowered_;
    std::optional<std::uint32_t> form_;   // the form element pointer
    // Before the body, the head takes its own elements; a noscript there holds only a few.
    enum class Head : std::uint8_t { In, InNoscript, After, Over };
    Head head_ = Head::In;
    bool framesetOk_ = true;
    bool inFrameset_ = false;             // a frameset took the body's place
    int maxDepth_;
    bool pushedForToken_ = false;
    std::uint64_t reconstructed_ = 0;
};

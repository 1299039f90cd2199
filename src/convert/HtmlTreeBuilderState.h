#pragma once

#include "convert/HtmlFormattingList.h"
#include "convert/HtmlOpenElementStack.h"
#include "convert/HtmlTagScanner.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// What the model of the tree builder keeps between tokens: the stack of open elements, the
// list of active formatting elements, the element pointers and flags, and the steps the
// insertion modes share.
struct HtmlTreeBuilderState {
    enum class Mode : std::uint8_t { Body, Table, TableBody, Row, Cell, Caption, ColumnGroup, Select, SelectInTable, Template };
    // Before the body, the head takes its own elements; a noscript there holds only a few.
    enum class Head : std::uint8_t { In, InNoscript, After, Over };
    using Element = HtmlOpenElementStack::Element;
    using Namespace = HtmlOpenElementStack::Namespace;
    using Scope = HtmlOpenElementStack::Scope;

    HtmlTreeBuilderState();

    // The insertion mode, as resetting it would find it on the stack.
    Mode mode() const;
    bool inHead() const;

    // Pushes an HTML element; `forToken`: it is the current token's own element.
    std::uint32_t insertHtml(GumboTag tag, std::string_view name, bool forToken = false);
    void insertForeign(const HtmlTagToken& token, Namespace ns);
    void insertFormatting(const HtmlTagToken& token);
    void reconstructFormatting();
    void closePInButtonScope();
    void closeCell();
    // The id the names of foreign and unknown elements go by, when one was seen already.
    std::optional<std::uint32_t> knownName(std::string_view name) const;

    HtmlOpenElementStack stack;
    HtmlFormattingList formatting {stack};
    std::optional<std::uint32_t> form;   // the form element pointer
    Head head = Head::In;
    bool framesetOk = true;
    bool inFrameset = false;             // a frameset took the body's place
    bool quirks = true;
    bool tokensSeen = false;
    // Per token: whether its own element was pushed, and whether the tokenizer reads what
    // follows as the element's text.
    bool pushedForToken = false;
    std::optional<HtmlTagScanner::TextMode> textMode;
    std::uint64_t reconstructed = 0;

private:
    std::uint32_t internName(std::string_view name);

    std::unordered_map<std::string, std::uint32_t> names_;
};

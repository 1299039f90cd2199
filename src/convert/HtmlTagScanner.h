#pragma once

#include <gumbo.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One token of an HTML page as far as the tree builder's stack of open elements depends on it.
struct HtmlTagToken {
    enum class Kind : std::uint8_t {
        Text,      // also a CDATA section
        StartTag,
        EndTag,
        Doctype,
        Other,   // a comment, "</>", or a tag cut off by the end
        End,
    };
    Kind kind = Kind::End;
    // The token's bytes in the input.
    std::size_t begin = 0;
    std::size_t end = 0;
    // Tags: the name as written, the bytes between the name and the closing ">" or "/>", and
    // the HTML tag of that name (GUMBO_TAG_UNKNOWN for any other).
    std::string_view name;
    std::string_view attributes;
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    bool selfClosing = false;
    // Text: only HTML whitespace.
    bool whitespace = false;
    // Text: the content of an element read as text (script, style, textarea, ...), which
    // the tree builder only appends to that element.
    bool elementText = false;
};

// Splits UTF-8 HTML into tokens the way an HTML5 tokenizer does: tags with their attributes
// (quoted values may hold ">"), comments, doctypes and bogus comments, and the text of raw
// text, RCDATA and script elements, whose content holds no tags. Which elements switch the
// tokenizer is the tree builder's decision, so the caller says so with enterTextMode. One
// pass, no allocation.
class HtmlTagScanner {
public:
    enum class TextMode { RawText, RcData, ScriptData, PlainText };

    explicit HtmlTagScanner(std::string_view input);

    // The next token. `cdata`: a "<![CDATA[" section is one (in foreign content) rather than
    // a bogus comment.
    HtmlTagToken next(bool cdata);

    // Called right after the start tag of an element whose text the tokenizer reads without
    // tags: the next token is that text, up to the element's end tag (or to the end).
    void enterTextMode(TextMode mode, std::string_view endTagName);

    // A tag's attribute by name (ASCII case-insensitive), the value as written without quotes;
    // empty when absent.
    static std::string_view attribute(std::string_view attributes, std::string_view name, bool* present = nullptr);

    // ASCII case folding, as the tokenizer folds tag and attribute names.
    static char lowerAscii(char c);
    static std::string lowered(std::string_view text);
    static bool equalsIgnoringCase(std::string_view a, std::string_view b);

private:
    HtmlTagToken scanText(std::size_t from);
    HtmlTagToken scanTag(HtmlTagToken::Kind kind, std::size_t nameStart);
    HtmlTagToken scanComment();
    HtmlTagToken scanUntil(std::size_t from, std::string_view terminator);
    HtmlTagToken textUpTo(std::size_t end);
    std::size_t findEndTag(std::size_t from, std::string_view name) const;
    std::size_t findScriptEnd(std::size_t from) const;
    bool endTagAt(std::size_t at, std::string_view name) const;
    bool nameAt(std::size_t at, std::string_view name) const;

    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool textMode_ = false;
    TextMode mode_ = TextMode::RawText;
    std::string_view modeName_;
};

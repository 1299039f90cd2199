// The CSS selector parser on arbitrary text, and every selector it accepts matched against a
// small page.

#include "FuzzSupport.h"

#include "convert/CssSelector.h"
#include "convert/HtmlDocument.h"

#include <cstddef>
#include <cstdint>

namespace {

const HtmlDocument& page()
{
    static const std::unique_ptr<HtmlDocument> document = HtmlDocument::parse(QStringLiteral(
        "<html><head><title>t</title></head><body><main role='main'>"
        "<div id='message-1' class='ChatMessage_chatMessage__x a b' data-message-id='1'>"
        "<p class='Markdown_markdownContainer__q' lang='en-US'>text <a href='https://poecdn.net/f.pdf'>f</a></p>"
        "<ul><li>one</li><li><span title='x y'>two</span></li></ul></div>"
        "<section><p>p</p><div><p><em>deep</em></p></div></section></main></body></html>"));
    return *document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzsupport::bytes(data, size));
    try {
        const CssSelector selector(text);
        const std::vector<HtmlNode*> all = page().select(selector);
        const HtmlNode* first = page().selectFirst(selector);
        if (all.empty() != (first == nullptr) || (first != nullptr && first != all.front())) {
            __builtin_trap(); // selectFirst must be the first of select
        }
        for (const HtmlNode* node : all) {
            if (!selector.matches(*node)) {
                __builtin_trap();
            }
            node->select(selector);
        }
    } catch (const SelectorError&) {
        // A malformed selector is refused: that is the expected outcome for most inputs.
    }
    return 0;
}

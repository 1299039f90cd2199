#include "convert/HtmlDepthLimiter.h"

#include "convert/HtmlTagGroups.h"
#include "convert/HtmlTagScanner.h"
#include "convert/HtmlTreeBuilderModel.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

using Groups = HtmlTagGroups;

// Elements the tree builder makes anew from unclosed formatting, allowed beyond what a page of
// that size can ask for honestly; every one costs gumbo a node with its attributes.
constexpr std::uint64_t kBaseReconstructions = 50000;
constexpr std::uint64_t kBytesPerReconstruction = 16;

// Whether an element opened beyond the limit ends an earlier one there the way the tree
// builder would end it (a p the next p, an item the next item).
bool endsSibling(GumboTag opened, GumboTag open)
{
    switch (opened) {
    case GUMBO_TAG_P:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_OPTION:
        return open == opened;
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
        return Groups::isOneOf(open, {GUMBO_TAG_DD, GUMBO_TAG_DT});
    case GUMBO_TAG_OPTGROUP:
        return Groups::isOneOf(open, {GUMBO_TAG_OPTION, GUMBO_TAG_OPTGROUP});
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Groups::isOneOf(open, {GUMBO_TAG_TD, GUMBO_TAG_TH});
    case GUMBO_TAG_TR:
        return Groups::isOneOf(open, {GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR});
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
        return Groups::isOneOf(open, {GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD,
                                 GUMBO_TAG_TFOOT});
    case GUMBO_TAG_RB:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_RT:
    case GUMBO_TAG_RTC:
        return Groups::isOneOf(open, {GUMBO_TAG_RB, GUMBO_TAG_RP, GUMBO_TAG_RT, GUMBO_TAG_RTC});
    default:
        return Groups::isHeading(opened) && Groups::isHeading(open);
    }
}

// The elements the page opened beyond the limit and has not closed yet, so that their end
// tags are left out. They are forgotten as soon as anything below them closes.
class FlattenedElements {
public:
    void open(const HtmlTagToken& token)
    {
        while (!elements_.empty() && endsSibling(token.tag, elements_.back().tag))
            closeTop();
        std::string name = HtmlTagScanner::lowered(token.name);
        ++counts_[name];
        elements_.push_back({token.tag, std::move(name)});
    }

    // True when the end tag belongs to one of them; that one and those opened after it close.
    bool close(std::string_view endTagName)
    {
        if (elements_.empty())
            return false;
        lowered_ = HtmlTagScanner::lowered(endTagName);
        const auto it = counts_.find(lowered_);
        if (it == counts_.end() || it->second == 0)
            return false;
        for (;;) {
            const bool match = elements_.back().name == lowered_;
            closeTop();
            if (match)
                return true;
        }
    }

    void clear()
    {
        elements_.clear();
        counts_.clear();
    }

private:
    struct Element {
        GumboTag tag;
        std::string name;
    };

    void closeTop()
    {
        --counts_[elements_.back().name];
        elements_.pop_back();
    }

    std::vector<Element> elements_;
    std::unordered_map<std::string, int> counts_;
    std::string lowered_;
};

} // namespace

HtmlDepthLimiter::Result HtmlDepthLimiter::limit(const QByteArray& html, int maxDepth)
{
    const std::string_view input(html.constData(), std::size_t(html.size()));
    const std::uint64_t budget = kBaseReconstructions + input.size() / kBytesPerReconstruction;
    HtmlTagScanner scanner(input);
    HtmlTreeBuilderModel model(maxDepth);
    FlattenedElements flattened;

    Result result;
    std::size_t copied = 0;
    const auto copyUpTo = [&](std::size_t position) {
        if (!result.changed) {
            result.changed = true;
            result.html.reserve(html.size() + html.size() / 8);
        }
        result.html.append(input.data() + copied, qsizetype(position - copied));
        copied = position;
    };
    // The end tag of a raw text element (script, style, textarea, ...), which the model does not
    // keep open: it only closes that element.
    std::string_view textElement;

    for (;;) {
        const HtmlTagToken token = scanner.next(model.cdataAllowed());
        if (token.kind == HtmlTagToken::Kind::End)
            break;
        const std::uint64_t removalsBefore = model.removals();
        // Closing anything that was open before forgets the flattened elements (they lay
        // above it); an element closed right after its own start tag does not count.
        if (token.kind == HtmlTagToken::Kind::Text) {
            if (!token.elementText)
                model.text(token.whitespace);
        } else if (token.kind == HtmlTagToken::Kind::StartTag) {
            textElement = {};
            const HtmlTreeBuilderModel::StartTagOutcome outcome = model.startTag(token);
            if (model.removals() - removalsBefore > (outcome.flattened ? 1u : 0u))
                flattened.clear();
            if (outcome.flattened) {
                copyUpTo(token.end);
                result.html += "</";
                result.html.append(token.name.data(), qsizetype(token.name.size()));
                result.html += '>';
                flattened.open(token);
            }
            if (outcome.textMode) {
                scanner.enterTextMode(*outcome.textMode, token.name);
                textElement = token.name;
            }
        } else if (token.kind == HtmlTagToken::Kind::Doctype) {
            model.doctype(std::string_view(input.data() + token.begin, token.end - token.begin));
        } else if (token.kind == HtmlTagToken::Kind::EndTag) {
            if (!textElement.empty() && HtmlTagScanner::equalsIgnoringCase(token.name, textElement)) {
                textElement = {};
            } else if (flattened.close(token.name)) {
                copyUpTo(token.begin);
                copied = token.end;
            } else {
                textElement = {};
                model.endTag(token);
            }
        }
        if (token.kind != HtmlTagToken::Kind::StartTag && model.removals() != removalsBefore)
            flattened.clear();
        if (model.reconstructed() > budget) {
            result.html.clear();
            result.changed = false;
            result.tooRepetitive = true;
            return result;
        }
    }
    if (!result.changed) {
        result.html = html;
        return result;
    }
    copyUpTo(input.size());
    return result;
}

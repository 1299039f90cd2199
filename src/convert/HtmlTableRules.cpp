#include "convert/HtmlTableRules.h"

#include "convert/HtmlBodyRules.h"
#include "convert/HtmlTagGroups.h"

namespace {

using Stack = HtmlOpenElementStack;
using Groups = HtmlTagGroups;
using Namespace = HtmlTreeBuilderState::Namespace;
using Scope = HtmlTreeBuilderState::Scope;
using Element = HtmlTreeBuilderState::Element;

const std::initializer_list<GumboTag> rowContext {GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
const std::initializer_list<GumboTag> bodyContext {GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT,
    GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
const std::initializer_list<GumboTag> tableContext {GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};

} // namespace

HtmlTableRules::HtmlTableRules(HtmlTreeBuilderState& state, HtmlBodyRules& body)
    : s_(state)
    , body_(body)
{
}

bool HtmlTableRules::startTag(const HtmlTagToken& token, Mode mode)
{
    switch (mode) {
    case Mode::Cell:
    case Mode::Caption: {
        if (!Groups::isTablePart(token.tag)) {
            body_.startTag(token);
            return false;
        }
        // A table part ends the open cell or caption, and is read again.
        const bool cell = mode == Mode::Cell;
        const int open = cell ? s_.stack.topmostOf({GUMBO_TAG_TD, GUMBO_TAG_TH}) : s_.stack.topmost(GUMBO_TAG_CAPTION);
        if (!s_.stack.inScope(open, Scope::Table))
            return false;
        if (cell) {
            s_.closeCell();
        } else {
            s_.stack.popFrom(open);
            s_.formatting.clearToLastMarker();
        }
        return true;
    }
    case Mode::ColumnGroup:
        if (token.tag == GUMBO_TAG_COL || token.tag == GUMBO_TAG_HTML)
            return false;
        if (token.tag == GUMBO_TAG_TEMPLATE) {
            body_.startTag(token);
            return false;
        }
        if (!s_.stack.currentIs(GUMBO_TAG_COLGROUP))
            return false;
        s_.stack.pop();
        return true;
    case Mode::Select:
    case Mode::SelectInTable:
        return startTagInSelect(token, mode == Mode::SelectInTable);
    default:
        return startTagInTable(token, mode);
    }
}

bool HtmlTableRules::endTag(const HtmlTagToken& token, Mode mode)
{
    const GumboTag tag = token.tag;
    switch (mode) {
    case Mode::Cell:
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) {
            if (s_.stack.tagInScope(tag, Scope::Table)) {
                s_.stack.popUntilTag(tag);
                s_.formatting.clearToLastMarker();
            }
            return false;
        }
        if (Groups::isOneOf(tag, {GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TR})) {
            if (!s_.stack.tagInScope(tag, Scope::Table))
                return false;
            s_.closeCell();
            return true;
        }
        if (!Groups::isOneOf(tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML}))
            body_.endTag(token);
        return false;
    case Mode::Caption:
        if (tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_TABLE) {
            if (!s_.stack.tagInScope(GUMBO_TAG_CAPTION, Scope::Table))
                return false;
            s_.stack.popUntilTag(GUMBO_TAG_CAPTION);
            s_.formatting.clearToLastMarker();
            return tag == GUMBO_TAG_TABLE;
        }
        if (!Groups::isTablePart(tag) && tag != GUMBO_TAG_BODY && tag != GUMBO_TAG_HTML)
            body_.endTag(token);
        return false;
    case Mode::ColumnGroup:
        if (tag == GUMBO_TAG_COLGROUP) {
            if (s_.stack.currentIs(GUMBO_TAG_COLGROUP))
                s_.stack.pop();
            return false;
        }
        if (tag == GUMBO_TAG_TEMPLATE) {
            body_.endTag(token);
            return false;
        }
        if (tag == GUMBO_TAG_COL || !s_.stack.currentIs(GUMBO_TAG_COLGROUP))
            return false;
        s_.stack.pop();
        return true;
    case Mode::Select:
    case Mode::SelectInTable:
        return endTagInSelect(token, mode == Mode::SelectInTable);
    default:
        return endTagInTable(token, mode);
    }
}

bool HtmlTableRules::startTagInTable(const HtmlTagToken& token, Mode mode)
{
    const GumboTag tag = token.tag;
    const auto insert = [&] { s_.insertHtml(tag, token.name, true); };
    if (mode == Mode::Row) {
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) {
            s_.stack.popUntilCurrentIn(rowContext);
            insert();
            s_.formatting.pushMarker();
            return false;
        }
        if (Groups::isTablePart(tag)) {
            if (!s_.stack.tagInScope(GUMBO_TAG_TR, Scope::Table))
                return false;
            s_.stack.popUntilCurrentIn(rowContext);
            s_.stack.pop();
            return true;
        }
    } else if (mode == Mode::TableBody) {
        if (tag == GUMBO_TAG_TR) {
            s_.stack.popUntilCurrentIn(bodyContext);
            insert();
            return false;
        }
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) {
            s_.stack.popUntilCurrentIn(bodyContext);
            s_.insertHtml(GUMBO_TAG_TR, "tr");
            return true;
        }
        if (Groups::isTablePart(tag)) {
            if (!s_.stack.inScope(s_.stack.topmostOf({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT}), Scope::Table))
                return false;
            s_.stack.popUntilCurrentIn(bodyContext);
            s_.stack.pop();
            return true;
        }
    }
    switch (tag) {
    case GUMBO_TAG_CAPTION:
        s_.stack.popUntilCurrentIn(tableContext);
        s_.formatting.pushMarker();
        insert();
        return false;
    case GUMBO_TAG_COLGROUP:
        s_.stack.popUntilCurrentIn(tableContext);
        insert();
        return false;
    case GUMBO_TAG_COL:
        s_.stack.popUntilCurrentIn(tableContext);
        s_.insertHtml(GUMBO_TAG_COLGROUP, "colgroup");
        return true;
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_THEAD:
        s_.stack.popUntilCurrentIn(tableContext);
        insert();
        return false;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_TR:
        s_.stack.popUntilCurrentIn(tableContext);
        s_.insertHtml(GUMBO_TAG_TBODY, "tbody");
        return true;
    case GUMBO_TAG_TABLE:
        if (!s_.stack.tagInScope(GUMBO_TAG_TABLE, Scope::Table))
            return false;
        s_.stack.popUntilTag(GUMBO_TAG_TABLE);
        return true;
    case GUMBO_TAG_INPUT:
        if (Groups::isHiddenInput(token))
            return false;
        body_.startTag(token);
        return false;
    case GUMBO_TAG_FORM:
        if (!s_.form && s_.stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            s_.form = s_.insertHtml(GUMBO_TAG_FORM, "form");
            s_.stack.pop();
        }
        return false;
    default:
        // Everything else lands in front of the table, but opens on the stack all the same.
        body_.startTag(token);
        return false;
    }
}

bool HtmlTableRules::startTagInSelect(const HtmlTagToken& token, bool inTable)
{
    const GumboTag tag = token.tag;
    const auto selectInScope = [this] {
        for (int i = s_.stack.size() - 1; i >= 0; --i) {
            const Element& element = s_.stack.at(i);
            if (element.ns == Namespace::Html && element.tag == GUMBO_TAG_SELECT)
                return true;
            if (element.ns != Namespace::Html
                || (element.tag != GUMBO_TAG_OPTION && element.tag != GUMBO_TAG_OPTGROUP))
                return false;
        }
        return false;
    };
    if (inTable
        && Groups::isOneOf(tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD,
                            GUMBO_TAG_TR, GUMBO_TAG_TD, GUMBO_TAG_TH})) {
        s_.stack.popUntilTag(GUMBO_TAG_SELECT);
        return true;
    }
    switch (tag) {
    case GUMBO_TAG_OPTION:
        if (s_.stack.currentIs(GUMBO_TAG_OPTION))
            s_.stack.pop();
        s_.insertHtml(tag, token.name, true);
        return false;
    case GUMBO_TAG_OPTGROUP:
        if (s_.stack.currentIs(GUMBO_TAG_OPTION))
            s_.stack.pop();
        if (s_.stack.currentIs(GUMBO_TAG_OPTGROUP))
            s_.stack.pop();
        s_.insertHtml(tag, token.name, true);
        return false;
    case GUMBO_TAG_SELECT:
        if (selectInScope())
            s_.stack.popUntilTag(GUMBO_TAG_SELECT);
        return false;
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_TEXTAREA:
        if (!selectInScope())
            return false;
        s_.stack.popUntilTag(GUMBO_TAG_SELECT);
        return true;
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_TEMPLATE:
        body_.startTag(token);
        return false;
    default:
        return false;   // ignored inside a select
    }
}

bool HtmlTableRules::endTagInTable(const HtmlTagToken& token, Mode mode)
{
    const GumboTag tag = token.tag;
    if (mode == Mode::Row) {
        if (tag == GUMBO_TAG_TR || tag == GUMBO_TAG_TABLE
            || Groups::isOneOf(tag, {GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})) {
            if (tag != GUMBO_TAG_TR && tag != GUMBO_TAG_TABLE && !s_.stack.tagInScope(tag, Scope::Table))
                return false;
            if (!s_.stack.tagInScope(GUMBO_TAG_TR, Scope::Table))
                return false;
            s_.stack.popUntilCurrentIn(rowContext);
            s_.stack.pop();
            return tag != GUMBO_TAG_TR;
        }
        if (Groups::isOneOf(tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                             GUMBO_TAG_TD, GUMBO_TAG_TH}))
            return false;
    } else if (mode == Mode::TableBody) {
        if (Groups::isOneOf(tag, {GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})) {
            if (s_.stack.tagInScope(tag, Scope::Table)) {
                s_.stack.popUntilCurrentIn(bodyContext);
                s_.stack.pop();
            }
            return false;
        }
        if (tag == GUMBO_TAG_TABLE) {
            if (!s_.stack.inScope(s_.stack.topmostOf({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT}), Scope::Table))
                return false;
            s_.stack.popUntilCurrentIn(bodyContext);
            s_.stack.pop();
            return true;
        }
        if (Groups::isOneOf(tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                             GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR}))
            return false;
    }
    if (tag == GUMBO_TAG_TABLE) {
        if (s_.stack.tagInScope(GUMBO_TAG_TABLE, Scope::Table))
            s_.stack.popUntilTag(GUMBO_TAG_TABLE);
        return false;
    }
    if (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_HTML || Groups::isTablePart(tag))
        return false;
    body_.endTag(token);
    return false;
}

bool HtmlTableRules::endTagInSelect(const HtmlTagToken& token, bool inTable)
{
    const GumboTag tag = token.tag;
    if (inTable
        && Groups::isOneOf(tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD,
                            GUMBO_TAG_TR, GUMBO_TAG_TD, GUMBO_TAG_TH})) {
        if (!s_.stack.tagInScope(tag, Scope::Table))
            return false;
        s_.stack.popUntilTag(GUMBO_TAG_SELECT);
        return true;
    }
    switch (tag) {
    case GUMBO_TAG_OPTGROUP:
        if (s_.stack.currentIs(GUMBO_TAG_OPTION) && s_.stack.size() > 1) {
            const Element& previous = s_.stack.at(s_.stack.size() - 2);
            if (previous.ns == Namespace::Html && previous.tag == GUMBO_TAG_OPTGROUP)
                s_.stack.pop();
        }
        if (s_.stack.currentIs(GUMBO_TAG_OPTGROUP))
            s_.stack.pop();
        return false;
    case GUMBO_TAG_OPTION:
        if (s_.stack.currentIs(GUMBO_TAG_OPTION))
            s_.stack.pop();
        return false;
    case GUMBO_TAG_SELECT:
        for (int i = s_.stack.size() - 1; i >= 0; --i) {
            const Element& element = s_.stack.at(i);
            if (element.ns == Namespace::Html && element.tag == GUMBO_TAG_SELECT) {
                s_.stack.popFrom(i);
                break;
            }
            if (element.ns != Namespace::Html
                || (element.tag != GUMBO_TAG_OPTION && element.tag != GUMBO_TAG_OPTGROUP))
                break;
        }
        return false;
    case GUMBO_TAG_TEMPLATE:
        body_.endTag(token);
        return false;
    default:
        return false;
    }
}

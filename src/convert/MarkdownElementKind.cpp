#include "convert/MarkdownElementKind.h"

#include "convert/AssetDownloads.h"
#include "convert/HtmlDocument.h"

#include <QHash>

namespace {

using Kind = MarkdownElementKind;

// The kinds decided by the tag alone, after the class tests.
Kind kindOfTag(const QString& tag)
{
    static const QHash<QString, Kind> kinds = {
        { QStringLiteral("img"), Kind::Image },
        { QStringLiteral("video"), Kind::Media },
        { QStringLiteral("audio"), Kind::Media },
        { QStringLiteral("a"), Kind::Link },
        { QStringLiteral("table"), Kind::Table },
        { QStringLiteral("blockquote"), Kind::Quote },
        { QStringLiteral("code"), Kind::InlineCode },
        { QStringLiteral("strong"), Kind::Strong },
        { QStringLiteral("b"), Kind::Strong },
        { QStringLiteral("em"), Kind::Emphasis },
        { QStringLiteral("i"), Kind::Emphasis },
        { QStringLiteral("h1"), Kind::Heading },
        { QStringLiteral("h2"), Kind::Heading },
        { QStringLiteral("h3"), Kind::Heading },
        { QStringLiteral("h4"), Kind::Heading },
        { QStringLiteral("h5"), Kind::Heading },
        { QStringLiteral("h6"), Kind::Heading },
        { QStringLiteral("ul"), Kind::UnorderedList },
        { QStringLiteral("ol"), Kind::OrderedList },
        { QStringLiteral("hr"), Kind::Rule },
        { QStringLiteral("br"), Kind::Break },
        { QStringLiteral("p"), Kind::Block },
        { QStringLiteral("div"), Kind::Block },
    };
    return kinds.value(tag, Kind::Other);
}

} // namespace

MarkdownElementKind markdownElementKind(const HtmlNode& node)
{
    if (!node.isElement()) {
        return Kind::Text;
    }
    const QString& tag = node.tagName();
    const QString cls = node.attr(QStringLiteral("class"));
    if (cls.contains(QLatin1String("ReferencedMessage_container"))) {
        return Kind::ReferencedMessage;
    }
    if (cls.contains(QLatin1String("MarkdownImage_imageContainer"))) {
        return Kind::ImageContainer;
    }
    if (tag == QLatin1String("pre") || cls.contains(QLatin1String("MarkdownCodeBlock"))) {
        return Kind::CodeBlock;
    }
    const Kind kind = kindOfTag(tag);
    if (kind == Kind::Link && AssetDownloads::isAttachment(node)) {
        return Kind::Attachment;
    }
    return kind;
}

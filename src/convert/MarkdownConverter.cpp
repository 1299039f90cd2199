#include "convert/MarkdownConverter.h"

#include "convert/AssetDownloads.h"
#include "convert/CssSelector.h"
#include "convert/FileNameSanitizer.h"
#include "convert/HtmlDocument.h"
#include "convert/MarkdownNodeRenderer.h"
#include "convert/MarkdownOutput.h"

#include <QLocale>
#include <QRegularExpression>

#include <array>
#include <vector>

namespace {

const QString defaultTitle = QStringLiteral("Poe Chat");
const QString defaultBotName = QStringLiteral("Bot");

// Every fixed selector of the page walk, parsed once and shared (they are immutable).
struct PageSelectors {
    // The clean-up list as one selector group: every entry is a compound selector, so
    // whether an element matches does not depend on what was removed before it.
    std::optional<CssSelector> cleanup;
    CssSelector headerTitle { QStringLiteral("p[class*='ChatHeader_overflow']") };
    CssSelector title { QStringLiteral("title") };
    CssSelector members { QStringLiteral("[data-testid='chat-members-display-text']") };
    CssSelector message { QStringLiteral("[class*='ChatMessage_chatMessage'], [data-message-id], "
                                         "div[id^='message-'], [role='listitem'], [role='article']") };
    CssSelector dayGroup { QStringLiteral("div[class*='ChatMessagesView_tupleGroupContainer']") };
    CssSelector dayLabel { QStringLiteral("[class*='MessageDate_container']") };
    CssSelector fallbackRoot { QStringLiteral("div[class^='ChatMessagesView_tupleGroupContainer'], main[role='main']") };
    CssSelector announcement { QStringLiteral("[class*='Message_chatAnnouncement']") };
    CssSelector rightSide { QStringLiteral("[class*='rightSideMessageWrapper']") };
    CssSelector bubble { QStringLiteral("[class*='Message_messageBubble']") };
    CssSelector botHeaderText { QStringLiteral("[class*='BotHeader_textContainer'] p") };
    CssSelector botHeaderTitle { QStringLiteral("a[class*='BotHeader_title']") };
    CssSelector authorHeader { QStringLiteral("[class*='Message_authorHeader']") };
    CssSelector userInfo { QStringLiteral("[class*='UserMessageHeader_userInfoContainer']") };
    CssSelector markdownContainer { QStringLiteral("[class*='Markdown_markdownContainer']") };
    CssSelector markdown { QStringLiteral("[class*='markdown']") };

    PageSelectors()
    {
        static const char* const cleanupList[] = {
            "aside[class*='SidebarLayout_sidebar__']",
            "aside[class*='SidebarLayout_left__']",
            "aside[class*='SidebarLayout_right__']",
            "div[class*='BaseNavbar_leftNavItem__']",
            "div[class*='BaseNavbar_rightNavItem__']",
            "div[class*='BotInfoCard_sectionContainer__']",
            "div[class*='ChatMessagesView_inviteSection__']",
            "div[class*='ChatLastMessageArea_actionBarAndFollowUpActionsPlaceholder__']",
            "footer[class*='ChatPageMainFooter_footer__']",
            "section[class*='ChatMessageActionBar_actionBar__']",
            "section[class*='ChatMessageFollowupActions_container__']",
            "div[class*='Message_viewMoreButtonWrapper']",
            "button[class*='Message_viewMoreButton']",
        };
        QStringList group;
        for (const char* text : cleanupList) {
            group.append(QString::fromLatin1(text));
        }
        cleanup.emplace(group.join(QStringLiteral(", ")));
    }
};

const PageSelectors& selectors()
{
    static const PageSelectors instance;
    return instance;
}

const std::array<QLatin1StringView, 7> weekdayNames = {
    QLatin1StringView("monday"), QLatin1StringView("tuesday"), QLatin1StringView("wednesday"),
    QLatin1StringView("thursday"), QLatin1StringView("friday"), QLatin1StringView("saturday"),
    QLatin1StringView("sunday"),
};

// The English, locale-independent formats of dates ("en_US_POSIX").
QLocale posixLocale()
{
    return QLocale::c();
}

QString deletingPathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString firstText(const HtmlNode& root, const CssSelector& selector)
{
    const HtmlNode* found = root.selectFirst(selector);
    return found ? found->text().trimmed() : QString();
}

bool isMessageElement(const HtmlNode& element, const QStringList& classes)
{
    for (const QString& name : classes) {
        if (name.contains(QLatin1String("ChatMessage_chatMessage"))) {
            return true;
        }
    }
    if (element.hasAttr(QStringLiteral("data-message-id"))
        || element.attr(QStringLiteral("id")).startsWith(QLatin1String("message-"))) {
        return true;
    }
    const QString role = element.attr(QStringLiteral("role"));
    return role == QLatin1String("article") || role == QLatin1String("listitem");
}

} // namespace

class MarkdownConverter::Private {
public:
    explicit Private(MarkdownConverter& owner)
        : q(owner)
        , downloads(owner)
    {
    }

    std::optional<QString> extractTitle() const;
    QString run(bool dryRun);
    QString render(bool dryRun);
    void cleanup();
    QString frontMatter() const;
    // Appends the element's Markdown (possibly nothing) to the note.
    void convertElementToMarkdown(const HtmlNode& element, MarkdownNodeRenderer& renderer, MarkdownOutput& note);
    // What both constructors do once the page is parsed; `textLength` in UTF-16 units.
    void start(qsizetype textLength, const std::optional<QString>& assetsDir,
        const std::optional<QDateTime>& creationTime, const std::optional<QString>& url);

    MarkdownConverter& q;
    std::unique_ptr<HtmlDocument> soup;
    QString title;
    QString sanitizedTitle;
    QString suggestedFilename;
    QString assetsDirName;
    std::optional<QString> chatUrl;
    QString lastBotName = defaultBotName;
    QDateTime fileCreationTime;
    // The bot name the page itself gives (title, member list), read once before the first
    // clean-up, so the dry run and the real run name bots alike.
    std::optional<QString> pageBotName;
    bool cleanedUp = false;
    std::optional<QString> renderedNote;
    qsizetype sizeHint = 0;
    std::chrono::milliseconds deadline { std::chrono::seconds(300) };
    AssetDownloads downloads;
};

MarkdownConverter::MarkdownConverter(const QString& htmlContent,
    const std::optional<QString>& assetsDirName, const std::optional<QDateTime>& fileCreationTime,
    const std::optional<QString>& chatUrl)
    : d(std::make_unique<Private>(*this))
{
    try {
        d->soup = HtmlDocument::parse(htmlContent);
    } catch (const std::exception& error) {
        throw ConversionError(error.what());
    }
    d->start(htmlContent.size(), assetsDirName, fileCreationTime, chatUrl);
}

MarkdownConverter::MarkdownConverter(const QByteArray& utf8HtmlContent,
    const std::optional<QString>& assetsDirName, const std::optional<QDateTime>& fileCreationTime,
    const std::optional<QString>& chatUrl)
    : d(std::make_unique<Private>(*this))
{
    // Read as the decoded text would be: without a leading byte-order mark, and without a
    // character cut short at the end (the decoder waits for its rest and drops it).
    const qsizetype start = utf8HtmlContent.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const qsizetype end = completeUtf8Length(utf8HtmlContent);
    const QByteArray page = start == 0 && end == utf8HtmlContent.size()
        ? utf8HtmlContent
        : utf8HtmlContent.sliced(qMin(start, end), end - qMin(start, end));
    try {
        d->soup = HtmlDocument::parse(page);
    } catch (const std::exception& error) {
        throw ConversionError(error.what());
    }
    d->start(utf16Length(page), assetsDirName, fileCreationTime, chatUrl);
}

qsizetype MarkdownConverter::utf16Length(const QByteArray& utf8)
{
    // Every byte but a continuation byte starts a character; one of four bytes needs two
    // UTF-16 units.
    qsizetype units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xC0) != 0x80 ? 1 : 0;
        units += byte >= 0xF0 ? 1 : 0;
    }
    return units;
}

qsizetype MarkdownConverter::completeUtf8Length(const QByteArray& utf8)
{
    // The last character's first byte is at most three bytes before the end.
    qsizetype lead = utf8.size();
    while (lead > 0 && utf8.size() - lead < 4 && (static_cast<unsigned char>(utf8[lead - 1]) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead == 0) {
        return utf8.size();
    }
    const auto first = static_cast<unsigned char>(utf8[lead - 1]);
    const qsizetype length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    return utf8.size() - (lead - 1) < length ? lead - 1 : utf8.size();
}

void MarkdownConverter::Private::start(qsizetype textLength, const std::optional<QString>& assetsDir,
    const std::optional<QDateTime>& creationTime, const std::optional<QString>& url)
{
    sizeHint = textLength;
    chatUrl = url;
    title = extractTitle().value_or(defaultTitle);
    sanitizedTitle = sanitizeFilename(title);
    suggestedFilename = sanitizedTitle + QStringLiteral(".md");
    assetsDirName = assetsDir ? *assetsDir : sanitizedTitle + QStringLiteral("_files");
    fileCreationTime = creationTime ? *creationTime : QDateTime::currentDateTime();
}

MarkdownConverter::~MarkdownConverter() = default;

std::optional<QString> MarkdownConverter::Private::extractTitle() const
{
    const PageSelectors& sel = selectors();
    const HtmlNode* root = soup->documentElement();
    if (!root) {
        return std::nullopt;
    }
    const QString header = firstText(*root, sel.headerTitle);
    if (!header.isEmpty()) {
        return header;
    }
    const HtmlNode* titleElement = root->selectFirst(sel.title);
    if (!titleElement) {
        return std::nullopt;
    }
    QString text = titleElement->text().trimmed();
    if (text.endsWith(QLatin1String(" - Poe"))) {
        text.chop(6);
    }
    // An unread counter in front, such as "(3) ".
    static const QRegularExpression counter(QStringLiteral("^\\(\\d+\\)\\s+"));
    text.remove(counter);
    return text;
}

QString MarkdownConverter::sanitizeFilename(const QString& name)
{
    return FileNameSanitizer::sanitize(name);
}

void MarkdownConverter::updateFilename(const QString& filename)
{
    d->suggestedFilename = filename;
    d->sanitizedTitle = deletingPathExtension(filename);
    d->assetsDirName = d->sanitizedTitle + QStringLiteral("_files");
}

QString MarkdownConverter::process(bool dryRun)
{
    try {
        return d->run(dryRun);
    } catch (const ConversionError&) {
        throw;
    } catch (const std::exception& error) {
        throw ConversionError(error.what());
    }
}

QString MarkdownConverter::Private::run(bool dryRun)
{
    // After the first run's clean-up the page no longer changes, and asset names are fixed
    // once given, so a later run would write the very same text: it only has to request
    // the assets the earlier (dry) run found.
    if (!renderedNote) {
        renderedNote = render(dryRun);
    }
    if (!dryRun) {
        downloads.requestUnscheduled();
        if (!q.waitForDownloads(deadline)) {
            if (q.logger) {
                q.logger(QStringLiteral("⚠️ Downloads timed out."));
            }
            downloads.abandonPending();
        }
        // The text was written before the answers came: assets that never arrived must link
        // to their address instead of a file that will not exist.
        if (downloads.hasFailures()) {
            renderedNote = render(dryRun);
        }
    }
    return *renderedNote;
}

QString MarkdownConverter::Private::render(bool dryRun)
{
    const PageSelectors& sel = selectors();
    const HtmlNode* root = soup->documentElement();

    if (!pageBotName) {
        QString name = defaultBotName;
        const std::optional<QString> pageTitle = extractTitle();
        if (pageTitle && !pageTitle->isEmpty() && *pageTitle != QLatin1String("Poe")
            && *pageTitle != QLatin1String("Poe - Fast, Helpful AI Chat")) {
            name = *pageTitle;
        }
        const QString members = root ? firstText(*root, sel.members) : QString();
        if (!members.isEmpty()) {
            const QString first = members.section(QLatin1Char(','), 0, 0).trimmed();
            if (!first.isEmpty()) {
                name = first;
            }
        }
        pageBotName = name;
    }
    lastBotName = *pageBotName;

    cleanup();

    // The run's renderer: the dry-run flag and the nesting depths of this run.
    MarkdownNodeRenderer renderer(downloads, dryRun);
    MarkdownOutput note;
    // The note is usually under half the page's markup; one reservation avoids regrowing a
    // string of many megabytes.
    note.reserve(sizeHint / 2 + 1024);
    note += QLatin1String("---\n");
    note += frontMatter();
    note += QLatin1String("\n---");

    // Messages inside messages are each converted on their own, so a page nesting them
    // hundreds deep repeats its text hundreds of times: a note far larger than any page
    // asks for honestly is refused rather than built.
    const qsizetype budget = 16 * sizeHint + (qsizetype(1) << 20);
    const auto appendMessage = [&](const HtmlNode& message) {
        convertElementToMarkdown(message, renderer, note);
        if (note.size() > budget) {
            throw ConversionError("The note would be far larger than the page: its messages nest too deeply");
        }
    };

    const std::vector<HtmlNode*> groups = soup->select(sel.dayGroup);
    if (!groups.empty()) {
        for (const HtmlNode* group : groups) {
            if (const HtmlNode* label = group->selectFirst(sel.dayLabel)) {
                note += QLatin1String("\n## ");
                note += q.formatDate(label->text().trimmed());
                note += QLatin1String("\n\n");
            }
            for (const HtmlNode* message : group->select(sel.message)) {
                appendMessage(*message);
            }
        }
    } else {
        const std::vector<HtmlNode*> messages = soup->select(sel.message);
        if (!messages.empty()) {
            for (const HtmlNode* message : messages) {
                appendMessage(*message);
            }
        } else {
            const HtmlNode* fallback = soup->selectFirst(sel.fallbackRoot);
            if (!fallback) {
                fallback = soup->body();
            }
            if (fallback) {
                const std::vector<HtmlNode*> inner = fallback->select(sel.message);
                if (!inner.empty()) {
                    for (const HtmlNode* message : inner) {
                        appendMessage(*message);
                    }
                } else {
                    for (const HtmlNode* child : fallback->childElements()) {
                        appendMessage(*child);
                    }
                }
            }
        }
    }

    return note.take();
}

void MarkdownConverter::Private::cleanup()
{
    // One walk over the page; a removed element's subtree goes with it and is not searched.
    // Once done, the page holds no furniture any more, so later runs skip it.
    if (cleanedUp) {
        return;
    }
    soup->removeMatching(*selectors().cleanup);
    cleanedUp = true;
}

QString MarkdownConverter::Private::frontMatter() const
{
    const QLocale locale = QLocale::system();
    const QDateTime local = fileCreationTime.toLocalTime();
    QStringList lines;
    if (chatUrl && !chatUrl->isEmpty()) {
        lines.append(QStringLiteral("Source: ") + *chatUrl);
    }
    lines.append(QStringLiteral("Export Date: ") + locale.toString(local.date(), QLocale::ShortFormat));
    lines.append(QStringLiteral("Export Time: ") + locale.toString(local.time(), QLocale::ShortFormat));
    return lines.join(QLatin1Char('\n'));
}

void MarkdownConverter::Private::convertElementToMarkdown(
    const HtmlNode& element, MarkdownNodeRenderer& renderer, MarkdownOutput& note)
{
    const PageSelectors& sel = selectors();
    const QStringList classes = element.attr(QStringLiteral("class")).split(QLatin1Char(' '));
    const bool message = isMessageElement(element, classes);

    // A tuple container is opened before the announcement test: an announcement among its
    // children must not flatten every message of the tuple into one italic line.
    if (!message
        && (classes.contains(QLatin1String("ChatMessagesView_tupleGroup"))
            || classes.contains(QLatin1String("ChatMessagesView_messageTuple")))) {
        for (const HtmlNode* child : element.childElements()) {
            convertElementToMarkdown(*child, renderer, note);
        }
        return;
    }

    const auto appendItalicText = [&note, &element] {
        note += QLatin1String("\n*");
        note += element.text();
        note += QLatin1String("*\n");
    };
    if (element.selectFirst(sel.announcement)) {
        appendItalicText();
        return;
    }

    if (message) {
        if (element.selectFirst(sel.rightSide)) {
            const HtmlNode* bubble = element.selectFirst(sel.bubble);
            if (!bubble) {
                appendItalicText();
                return;
            }
            note += QLatin1String("\n> [!QUESTION] You\n");
            renderer.processMessageContent(*bubble, u"> ", note);
            note += QLatin1Char('\n');
            return;
        }

        QString name;
        if (const HtmlNode* header = element.selectFirst(sel.botHeaderText)) {
            name = header->text().trimmed();
        } else {
            name = firstText(element, sel.botHeaderTitle);
        }
        if (name.isEmpty()) {
            name = firstText(element, sel.authorHeader);
        }
        if (name.isEmpty()) {
            name = firstText(element, sel.userInfo);
        }
        if (name.isEmpty()) {
            name = lastBotName;
        } else {
            lastBotName = name;
        }

        const HtmlNode* content = element.selectFirst(sel.bubble);
        if (!content) {
            content = element.selectFirst(sel.markdownContainer);
        }
        if (!content) {
            content = element.selectFirst(sel.markdown);
        }
        if (!content) {
            content = &element;
        }
        note += QLatin1String("\n> [!bot] ");
        note += name;
        note += QLatin1Char('\n');
        renderer.processMessageContent(*content, u"> ", note);
        note += QLatin1Char('\n');
    }
    // Anything else, the "view more" buttons included, contributes nothing.
}

QString MarkdownConverter::formatDate(const QString& label) const
{
    const QString trimmed = label.trimmed();
    const QString lower = trimmed.toLower();
    const QDateTime reference = d->fileCreationTime.toLocalTime();

    if (lower == QLatin1String("today")) {
        return formatDateOutput(reference);
    }
    if (lower == QLatin1String("yesterday")) {
        return formatDateOutput(reference.addDays(-1));
    }
    for (std::size_t named = 0; named < weekdayNames.size(); ++named) {
        if (lower == weekdayNames[named]) {
            // Monday = 0; the latest such day strictly before the reference day.
            const int current = reference.date().dayOfWeek() - 1;
            int back = ((current - static_cast<int>(named)) % 7 + 7) % 7;
            if (back == 0) {
                back = 7;
            }
            return formatDateOutput(reference.addDays(-back));
        }
    }
    const QDate parsed = posixLocale().toDate(
        trimmed + QLatin1Char(' ') + QString::number(reference.date().year()), QStringLiteral("MMM d yyyy"));
    if (!parsed.isValid()) {
        return label;
    }
    QDateTime date = parsed.startOfDay();
    if (date > reference) {
        // A December label read in January belongs to last year.
        date = date.addYears(-1);
    }
    return formatDateOutput(date);
}

QString MarkdownConverter::formatDateOutput(const QDateTime& date)
{
    return posixLocale().toString(date.toLocalTime(), QStringLiteral("d MMM yyyy"));
}

QString MarkdownConverter::formatBytes(qint64 bytes)
{
    return AssetDownloads::formatBytes(bytes);
}

bool MarkdownConverter::isAttachment(const HtmlNode& element)
{
    return AssetDownloads::isAttachment(element);
}

bool MarkdownConverter::waitForDownloads(std::chrono::milliseconds timeout)
{
    return d->downloads.waitForDownloads(timeout);
}

void MarkdownConverter::saveDownloadedFile(
    const QString& url, const std::optional<QByteArray>& data, const std::optional<QString>& error)
{
    d->downloads.saveDownloadedFile(url, data, error);
}

void MarkdownConverter::failPendingDownloads(const QString& reason)
{
    d->downloads.failPending(reason);
}

QString MarkdownConverter::title() const
{
    return d->title;
}

QString MarkdownConverter::sanitizedTitle() const
{
    return d->sanitizedTitle;
}

QString MarkdownConverter::suggestedFilename() const
{
    return d->suggestedFilename;
}

QString MarkdownConverter::assetsDirName() const
{
    return d->assetsDirName;
}

qint64 MarkdownConverter::totalAssets() const
{
    return d->downloads.totalAssets();
}

void MarkdownConverter::setTotalAssets(qint64 count)
{
    d->downloads.setTotalAssets(count);
}

qint64 MarkdownConverter::processedAssets() const
{
    return d->downloads.processedAssets();
}

QMap<QString, QByteArray> MarkdownConverter::assets() const
{
    return d->downloads.assets();
}

void MarkdownConverter::setClock(std::function<QDateTime()> clock)
{
    d->downloads.setClock(std::move(clock));
}

void MarkdownConverter::setWaitDurations(
    std::chrono::milliseconds deadline, std::chrono::milliseconds stall, std::chrono::milliseconds poll)
{
    d->deadline = deadline;
    d->downloads.setWaitDurations(stall, poll);
}

QDateTime MarkdownConverter::fileCreationTime() const
{
    return d->fileCreationTime;
}

QString MarkdownConverter::lastBotName() const
{
    return d->lastBotName;
}

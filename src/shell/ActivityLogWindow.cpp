#include "shell/ActivityLogWindow.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// The length of the text in UTF-8, without converting it.
qsizetype utf8Bytes(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3; // a lone surrogate is written as the replacement character
        }
    }
    return bytes;
}

} // namespace

ActivityLogWindow::ActivityLogWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Activity Log"));
    resize(900, 700);

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(10);
    outer->setContentsMargins(20, 20, 20, 20);

    auto* statusBox = new QGroupBox(QStringLiteral("Status"), this);
    auto* statusLayout = new QVBoxLayout(statusBox);
    statusLayout->setSpacing(12);
    statusLayout->setContentsMargins(10, 10, 10, 10);
    auto* statusLabel = new QLabel(QStringLiteral("Mossbridge is running.\nExports will be pushed to Obsidian automatically."), statusBox);
    statusLabel->setWordWrap(true);
    statusLayout->addWidget(statusLabel);
    outer->addWidget(statusBox);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Activity Log:"), this));
    row->addStretch(1);
    auto* copyButton = new QPushButton(QStringLiteral("Copy All"), this);
    auto* clearButton = new QPushButton(QStringLiteral("Clear All"), this);
    connect(copyButton, &QPushButton::clicked, this, &ActivityLogWindow::copyAllActivityLog);
    connect(clearButton, &QPushButton::clicked, this, &ActivityLogWindow::clearAllActivityLog);
    row->addWidget(copyButton);
    row->addWidget(clearButton);
    outer->addLayout(row);

    textView_ = new QPlainTextEdit(this);
    textView_->setReadOnly(true);
    textView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textView_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    textView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    textView_->setMinimumHeight(200);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(12);
    font.setWeight(QFont::Normal);
    textView_->setFont(font);
    outer->addWidget(textView_, 1);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - rect().center());
    }
}

void ActivityLogWindow::appendLine(const QString& line)
{
    Line entry;
    entry.text = line.endsWith(QLatin1Char('\n')) ? line : line + QLatin1Char('\n');
    entry.bytes = utf8Bytes(entry.text);
    bytes_ += entry.bytes;
    lines_.push_back(std::move(entry));
    const qsizetype droppedCharacters = dropOldest();
    if (!viewFilled_) {
        return;
    }
    QTextDocument* document = textView_->document();
    if (droppedCharacters > 0) {
        // Each character of the inserted text is one position of the document (a line feed
        // becomes a block boundary), so the dropped lines are exactly the first positions.
        QTextCursor top(document);
        top.setPosition(qMin<qsizetype>(droppedCharacters, document->characterCount() - 1), QTextCursor::KeepAnchor);
        top.removeSelectedText();
    }
    // The text ends in a line feed, so the last block is the empty one at the very end.
    QTextCursor end(document->lastBlock());
    end.insertText(lines_.back().text);
    scrollToEnd();
}

qsizetype ActivityLogWindow::dropOldest()
{
    qsizetype characters = 0;
    while (lines_.size() > 1
        && (static_cast<qsizetype>(lines_.size()) > maximumLines || bytes_ > maximumBytes)) {
        characters += lines_.front().text.size();
        bytes_ -= lines_.front().bytes;
        lines_.pop_front();
    }
    return characters;
}

QString ActivityLogWindow::text() const
{
    qsizetype size = 0;
    for (const Line& line : lines_) {
        size += line.text.size();
    }
    QString all;
    all.reserve(size);
    for (const Line& line : lines_) {
        all += line.text;
    }
    return all;
}

void ActivityLogWindow::fillView()
{
    textView_->setPlainText(text());
    viewFilled_ = true;
    scrollToEnd();
}

void ActivityLogWindow::scrollToEnd()
{
    QScrollBar* bar = textView_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void ActivityLogWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!viewFilled_) {
        fillView();
    }
}

void ActivityLogWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // Minimising keeps the window shown; closing or hiding it frees the view's text and layout.
    if (!isVisible()) {
        textView_->clear();
        viewFilled_ = false;
    }
}

void ActivityLogWindow::copyAllActivityLog()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text());
}

void ActivityLogWindow::clearAllActivityLog()
{
    lines_.clear();
    bytes_ = 0;
    textView_->clear();
}

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
#include <QTextCursor>
#include <QVBoxLayout>

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
    // Every line ends in a line feed, so the document holds one empty block after the last line.
    textView_->setMaximumBlockCount(maximumLines + 1);
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
    // Inserting at the end leaves the rest of the document alone, so appending stays cheap however
    // long the log is.
    QTextCursor cursor(textView_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line.endsWith(QLatin1Char('\n')) ? line : line + QLatin1Char('\n'));
    QScrollBar* bar = textView_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

QString ActivityLogWindow::text() const
{
    return textView_->toPlainText();
}

void ActivityLogWindow::copyAllActivityLog()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text());
}

void ActivityLogWindow::clearAllActivityLog()
{
    textView_->clear();
}

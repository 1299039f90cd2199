#pragma once

#include <QString>
#include <QWidget>

#include <deque>

class QPlainTextEdit;

// The "Activity Log" window: a status box, the Copy All / Clear All row and the read-only log.
// Created once at launch, hidden, and only hidden again when closed. Main thread only.
//
// The log's lines are kept here, not in the text view: a hidden window lays nothing out, and
// the view is filled when the window is shown and emptied again when it is hidden. The newest
// lines are kept up to both caps; older ones leave from the top, so a program that runs for
// weeks holds a bounded log and appending a line costs the same however long it has run.
class ActivityLogWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr qsizetype maximumLines = 20000;
    // Of the log's text in UTF-8, as "Copy All" puts it on the clipboard.
    static constexpr qsizetype maximumBytes = 2 * 1024 * 1024;

    explicit ActivityLogWindow(QWidget* parent = nullptr);

    // Appends one formatted line (a line feed is added when it has none) and, while the window
    // is shown, scrolls to the end.
    void appendLine(const QString& line);
    QString text() const;
    // What the log holds: its lines and their UTF-8 bytes.
    qsizetype lineCount() const { return static_cast<qsizetype>(lines_.size()); }
    qsizetype byteCount() const { return bytes_; }

    // The buttons' actions.
    void copyAllActivityLog();
    void clearAllActivityLog();

    QPlainTextEdit* textView() const { return textView_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Line {
        QString text;
        qsizetype bytes = 0;
    };

    // Drops the oldest lines over the caps (the newest stays, whatever its size); returns the
    // number of characters they held.
    qsizetype dropOldest();
    void fillView();
    void scrollToEnd();

    QPlainTextEdit* textView_ = nullptr;
    std::deque<Line> lines_;
    qsizetype bytes_ = 0;
    // Whether the text view holds the log (only while the window is shown).
    bool viewFilled_ = false;
};

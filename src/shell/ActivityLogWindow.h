#pragma once

#include <QString>
#include <QWidget>

class QPlainTextEdit;

// The "Activity Log" window: a status box, the Copy All / Clear All row and the read-only log.
// Created once at launch, hidden, and only hidden again when closed. Main thread only.
class ActivityLogWindow : public QWidget {
    Q_OBJECT

public:
    // The newest lines kept; older ones leave from the top, so a program that runs for weeks
    // does not grow without bound.
    static constexpr int maximumLines = 50000;

    explicit ActivityLogWindow(QWidget* parent = nullptr);

    // Appends one formatted line (which ends in a line feed) and scrolls to the end.
    void appendLine(const QString& line);
    QString text() const;

    // The buttons' actions.
    void copyAllActivityLog();
    void clearAllActivityLog();

    QPlainTextEdit* textView() const { return textView_; }

private:
    QPlainTextEdit* textView_ = nullptr;
};

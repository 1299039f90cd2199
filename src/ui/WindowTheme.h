#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

// The main window's colours, from the application's palette so that the window follows the
// desktop's dark or light theme; red, orange and gray are the platform's named colours, in
// their dark or light variant. Known to QML as the singleton Theme.
class WindowTheme : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Theme)
    QML_SINGLETON

    Q_PROPERTY(bool isDark READ isDark NOTIFY changed)
    Q_PROPERTY(QColor primary READ primary NOTIFY changed)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY changed)
    Q_PROPERTY(QColor windowBackground READ windowBackground NOTIFY changed)
    Q_PROPERTY(QColor controlBackground READ controlBackground NOTIFY changed)
    Q_PROPERTY(QColor popupBackground READ popupBackground NOTIFY changed)
    Q_PROPERTY(QColor red READ red NOTIFY changed)
    Q_PROPERTY(QColor orange READ orange NOTIFY changed)
    Q_PROPERTY(QColor gray READ gray CONSTANT)
    Q_PROPERTY(int captionSize MEMBER captionSize_ CONSTANT)
    Q_PROPERTY(int title3Size MEMBER title3Size_ CONSTANT)

public:
    explicit WindowTheme(QObject* parent = nullptr);

    bool isDark() const;
    QColor primary() const;
    // The primary colour, half see-through.
    QColor secondary() const;
    QColor windowBackground() const;
    QColor controlBackground() const;
    // Menus and alerts: raised a little above a dark window, the window's own colour in light.
    QColor popupBackground() const;
    QColor red() const;
    QColor orange() const;
    QColor gray() const;

    // The colour with its opacity multiplied by `opacity`.
    Q_INVOKABLE static QColor withOpacity(const QColor& color, qreal opacity);
    // The colour of a row's icon or tile tone (HistoryItemViewModel::Tone).
    Q_INVOKABLE QColor toneColor(int tone) const;

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int captionSize_ = 10;
    int title3Size_ = 15;
};

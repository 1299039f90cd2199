#include "ui/WindowTheme.h"

#include "ui/HistoryItemViewModel.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

WindowTheme::WindowTheme(QObject* parent)
    : QObject(parent)
{
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

bool WindowTheme::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) {
        Q_EMIT changed();
    }
    return QObject::eventFilter(watched, event);
}

bool WindowTheme::isDark() const
{
    return QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
}

QColor WindowTheme::primary() const
{
    return QGuiApplication::palette().color(QPalette::WindowText);
}

QColor WindowTheme::secondary() const
{
    return withOpacity(primary(), isDark() ? 0.55 : 0.5);
}

QColor WindowTheme::windowBackground() const
{
    return QGuiApplication::palette().color(QPalette::Window);
}

QColor WindowTheme::controlBackground() const
{
    return QGuiApplication::palette().color(QPalette::Base);
}

QColor WindowTheme::popupBackground() const
{
    const QColor window = windowBackground();
    return isDark() ? window.lighter(135) : window;
}

QColor WindowTheme::red() const
{
    return isDark() ? QColor(0xff, 0x45, 0x3a) : QColor(0xff, 0x3b, 0x30);
}

QColor WindowTheme::orange() const
{
    return isDark() ? QColor(0xff, 0x9f, 0x0a) : QColor(0xff, 0x95, 0x00);
}

QColor WindowTheme::gray() const
{
    return QColor(0x8e, 0x8e, 0x93);
}

QColor WindowTheme::withOpacity(const QColor& color, qreal opacity)
{
    QColor result = color;
    result.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return result;
}

QColor WindowTheme::toneColor(int tone) const
{
    switch (static_cast<HistoryItemViewModel::Tone>(tone)) {
    case HistoryItemViewModel::Tone::Orange:
        return orange();
    case HistoryItemViewModel::Tone::Red:
        return red();
    case HistoryItemViewModel::Tone::Secondary:
        break;
    }
    return secondary();
}

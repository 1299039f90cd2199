#include "ui/HistoryItemViewModel.h"
#include "ui/WindowTheme.h"

#include <QGuiApplication>
#include <QPalette>

#include <gtest/gtest.h>

namespace {

TEST(WindowTheme, FollowsTheApplicationPalette)
{
    WindowTheme theme;
    int changed = 0;
    QObject::connect(&theme, &WindowTheme::changed, [&changed] { ++changed; });

    struct Case {
        QColor window;
        QColor text;
        bool dark;
        QColor red;
    };
    for (const Case& c : {Case {QColor(0x1e, 0x1e, 0x1e), QColor(0xf2, 0xf2, 0xf2), true, QColor(0xff, 0x45, 0x3a)},
             Case {QColor(0xef, 0xef, 0xef), QColor(0x10, 0x10, 0x10), false, QColor(0xff, 0x3b, 0x30)}}) {
        SCOPED_TRACE(c.dark ? "dark" : "light");
        QPalette palette;
        palette.setColor(QPalette::Window, c.window);
        palette.setColor(QPalette::WindowText, c.text);
        const int before = changed;
        QGuiApplication::setPalette(palette);
        EXPECT_GT(changed, before);
        EXPECT_EQ(theme.isDark(), c.dark);
        EXPECT_EQ(theme.windowBackground(), c.window);
        EXPECT_EQ(theme.primary(), c.text);
        EXPECT_EQ(theme.secondary().rgb(), c.text.rgb());
        EXPECT_LT(theme.secondary().alphaF(), 0.6);
        EXPECT_EQ(theme.toneColor(static_cast<int>(HistoryItemViewModel::Tone::Red)), c.red);
        EXPECT_EQ(theme.toneColor(static_cast<int>(HistoryItemViewModel::Tone::Orange)), theme.orange());
        EXPECT_EQ(theme.toneColor(static_cast<int>(HistoryItemViewModel::Tone::Secondary)), theme.secondary());
    }
    QGuiApplication::setPalette(QPalette());
    EXPECT_NEAR(WindowTheme::withOpacity(QColor(10, 20, 30, 128), 0.5).alphaF(), 0.25, 0.01);
}

} // namespace

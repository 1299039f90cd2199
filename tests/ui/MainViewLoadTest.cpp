#include "ui/UiModule.h"

#include "support/QmlWarningGuard.h"
#include "support/WindowImages.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include <memory>

TEST(MainViewLoad, LoadsFromTheModuleWithoutWarnings)
{
    testsupport::QmlWarningGuard guard;
    UiModule::registerTypes();
    QQmlEngine engine;
    QQmlComponent component(&engine, UiModule::viewUrl(QStringLiteral("MainView")));
    ASSERT_TRUE(component.isReady()) << component.errorString().toStdString();
    std::unique_ptr<QObject> root(component.create());
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(guard.warnings().isEmpty()) << guard.warnings().join('\n').toStdString();
}

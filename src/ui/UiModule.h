#pragma once

#include <QString>
#include <QUrl>

// Registers the QML types of module Mossbridge.Ui (a static module: nothing is loaded from
// disk). Call once before a QML engine loads one of its views.
class UiModule {
public:
    static void registerTypes();
    // The compiled-in file of a view of the module, e.g. viewUrl("MainView").
    static QUrl viewUrl(const QString& viewName);
};

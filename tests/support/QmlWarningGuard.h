#pragma once

#include <QStringList>

#include <mutex>

namespace testsupport {

// Collects every warning Qt reports while it lives (QML and JavaScript warnings among them):
// a test that loads QML asserts that warnings() is empty, since a QML warning is a bug.
class QmlWarningGuard {
public:
    QmlWarningGuard();
    ~QmlWarningGuard();

    QmlWarningGuard(const QmlWarningGuard&) = delete;
    QmlWarningGuard& operator=(const QmlWarningGuard&) = delete;

    QStringList warnings() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable std::mutex mutex_;
    QStringList warnings_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace testsupport

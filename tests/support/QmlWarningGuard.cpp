#include "support/QmlWarningGuard.h"

#include <atomic>

namespace testsupport {

namespace {
std::atomic<QmlWarningGuard*> current {nullptr};

bool isNoise(const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    // The offscreen platform has no real screen or input; what it says about them is no fault
    // of the views.
    return category.startsWith(QStringLiteral("qt.qpa")) || message.startsWith(QStringLiteral("This plugin does not support"));
}
} // namespace

QmlWarningGuard::QmlWarningGuard()
{
    current.store(this);
    previous_ = qInstallMessageHandler(&QmlWarningGuard::handler);
}

QmlWarningGuard::~QmlWarningGuard()
{
    qInstallMessageHandler(previous_);
    current.store(nullptr);
}

QStringList QmlWarningGuard::warnings() const
{
    std::lock_guard lock(mutex_);
    return warnings_;
}

void QmlWarningGuard::clear()
{
    std::lock_guard lock(mutex_);
    warnings_.clear();
}

void QmlWarningGuard::handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QmlWarningGuard* guard = current.load();
    if (guard != nullptr && type != QtDebugMsg && type != QtInfoMsg && !isNoise(context, message)) {
        std::lock_guard lock(guard->mutex_);
        guard->warnings_.append(message);
    }
    if (guard != nullptr && guard->previous_ != nullptr) {
        guard->previous_(type, context, message);
    } else {
        qt_message_output(type, context, message);
    }
}

} // namespace testsupport

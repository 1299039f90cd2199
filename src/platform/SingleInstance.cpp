#include "platform/SingleInstance.h"

#include "platform/FreedesktopApplicationAdaptor.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
constexpr int forwardTimeoutMs = 10000;
}

SingleInstance::SingleInstance(const QString& applicationId, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , applicationId_(applicationId)
    , bus_(std::move(bus))
{
}

SingleInstance::~SingleInstance()
{
    if (ownsName_) {
        bus_.unregisterObject(objectPath(applicationId_));
        bus_.unregisterService(applicationId_);
    }
}

QString SingleInstance::objectPath(const QString& applicationId)
{
    QString path = QLatin1Char('/') + applicationId;
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

SingleInstance::Role SingleInstance::claim()
{
    if (!bus_.isConnected()) {
        aloneReason_ = QStringLiteral("no session bus: ") + bus_.lastError().message();
        return Role::alone;
    }
    QDBusConnectionInterface* busInterface = bus_.interface();
    if (busInterface == nullptr) {
        aloneReason_ = QStringLiteral("the session bus has no name service");
        return Role::alone;
    }
    // Export first, so that a second launch that sees the name can talk to it at once.
    exported_ = new QObject(this);
    auto* adaptor = new FreedesktopApplicationAdaptor(exported_);
    connect(adaptor, &FreedesktopApplicationAdaptor::activateRequested, this, &SingleInstance::activateRequested);
    connect(adaptor, &FreedesktopApplicationAdaptor::openRequested, this, &SingleInstance::openRequested);
    if (!bus_.registerObject(objectPath(applicationId_), exported_, QDBusConnection::ExportAdaptors)) {
        aloneReason_ = QStringLiteral("could not export ") + objectPath(applicationId_);
        return Role::alone;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = busInterface->registerService(
        applicationId_, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        bus_.unregisterObject(objectPath(applicationId_));
        aloneReason_ = QStringLiteral("could not claim ") + applicationId_ + QStringLiteral(": ") + reply.error().message();
        return Role::alone;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        ownsName_ = true;
        return Role::primary;
    }
    bus_.unregisterObject(objectPath(applicationId_));
    return Role::secondary;
}

QString SingleInstance::forward(const QStringList& urls)
{
    const QString path = objectPath(applicationId_);
    const QString interface = QStringLiteral("org.freedesktop.Application");
    QDBusMessage call;
    if (urls.isEmpty()) {
        call = QDBusMessage::createMethodCall(applicationId_, path, interface, QStringLiteral("Activate"));
        call << QVariantMap();
    } else {
        call = QDBusMessage::createMethodCall(applicationId_, path, interface, QStringLiteral("Open"));
        call << urls << QVariantMap();
    }
    const QDBusMessage answer = bus_.call(call, QDBus::Block, forwardTimeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        return answer.errorMessage();
    }
    return {};
}

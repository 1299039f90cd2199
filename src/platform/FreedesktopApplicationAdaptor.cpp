#include "platform/FreedesktopApplicationAdaptor.h"

FreedesktopApplicationAdaptor::FreedesktopApplicationAdaptor(QObject* parent)
    : QDBusAbstractAdaptor(parent)
{
}

void FreedesktopApplicationAdaptor::Activate(const QVariantMap&)
{
    Q_EMIT activateRequested();
}

void FreedesktopApplicationAdaptor::Open(const QStringList& uris, const QVariantMap&)
{
    Q_EMIT openRequested(uris);
}

void FreedesktopApplicationAdaptor::ActivateAction(const QString&, const QVariantList&, const QVariantMap&)
{
    // The program declares no actions; an unknown one activates it like a launch would.
    Q_EMIT activateRequested();
}

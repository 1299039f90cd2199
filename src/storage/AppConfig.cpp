#include "storage/AppConfig.h"

QString AppConfig::appVersion()
{
#ifdef MOSSBRIDGE_VERSION
    const QString version = QStringLiteral(MOSSBRIDGE_VERSION);
#else
    const QString version;
#endif
    return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

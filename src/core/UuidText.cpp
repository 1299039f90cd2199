#include "core/UuidText.h"

#include <QUuid>

QString UuidText::fresh()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

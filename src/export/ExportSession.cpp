#include "export/ExportSession.h"

QString ExportSession::wireText(Status status)
{
    switch (status) {
    case Status::starting:
        return QStringLiteral("starting");
    case Status::scrolling:
        return QStringLiteral("scrolling");
    case Status::capturing:
        return QStringLiteral("capturing");
    case Status::downloading:
        return QStringLiteral("downloading");
    case Status::error:
        return QStringLiteral("error");
    case Status::complete:
        return QStringLiteral("complete");
    }
    Q_UNREACHABLE();
    return {};
}

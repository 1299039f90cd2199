#include "platform/UpdateCheckResult.h"

QString UpdateCheckResult::title() const
{
    switch (kind) {
    case Kind::newerAvailable:
        return QStringLiteral("A new version of Mossbridge is available");
    case Kind::upToDate:
        return QStringLiteral("You're up to date");
    case Kind::failed:
        return QStringLiteral("Update check failed");
    case Kind::noFeed:
        return QStringLiteral("No update feed");
    }
    return {};
}

QString UpdateCheckResult::message() const
{
    switch (kind) {
    case Kind::newerAvailable:
        return QStringLiteral("Mossbridge %1 is available; you have %2.").arg(latestVersion, currentVersion);
    case Kind::upToDate:
        return QStringLiteral("Mossbridge %1 is the newest version available.").arg(currentVersion);
    case Kind::failed:
        return QStringLiteral("The update feed could not be read: %1").arg(error);
    case Kind::noFeed:
        return QStringLiteral("This build of Mossbridge has no update feed, so it cannot check for updates.");
    }
    return {};
}

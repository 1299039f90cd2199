#include "ConsoleShell.h"

#include <cstdio>

void ConsoleShell::write(const QString& line)
{
    const QByteArray text = line.endsWith(u'\n') ? line.toLocal8Bit() : (line + u'\n').toLocal8Bit();
    std::fputs(text.constData(), stderr);
    std::fflush(stderr);
}

void ConsoleShell::updateStatus(const QString& text)
{
    write(QStringLiteral("Status: ") + text);
}

void ConsoleShell::showOnboarding(OnboardingMode mode)
{
    write(mode == OnboardingMode::onboarding ? QStringLiteral("Settings needed: no vault is configured yet")
                                              : QStringLiteral("Settings requested"));
}

std::optional<QString> ConsoleShell::postNotification(const QString& title, const QString& body, const QVariantMap&)
{
    write(QStringLiteral("Notification: ") + title + QStringLiteral(" - ") + body);
    return std::nullopt;
}

void ConsoleShell::openViaUrlScheme(const QString& vaultName, const QString& filePath)
{
    write(QStringLiteral("Open note: ") + vaultName + QStringLiteral(" / ") + filePath);
}

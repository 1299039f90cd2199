#include "platform/SingleInstance.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

TEST(SingleInstance, TheFirstOwnsTheNameAndALaterLaunchHandsItsLinksOver)
{
    const QString id = QStringLiteral("app.mossbridge.Mossbridge");
    SingleInstance first(id, QDBusConnection::sessionBus());
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary) << first.aloneReason().toStdString();
    QStringList opened;
    int activations = 0;
    QObject::connect(&first, &SingleInstance::openRequested, [&opened](const QStringList& urls) { opened += urls; });
    QObject::connect(&first, &SingleInstance::activateRequested, [&activations] { ++activations; });

    // A later launch is another process with a connection of its own; its blocking call must not
    // run on the thread that serves the first.
    std::atomic<int> step {0};
    QString errors;
    QThread* later = QThread::create([&] {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("later-launch"));
        {
            SingleInstance second(id, bus);
            if (second.claim() == SingleInstance::Role::secondary) {
                errors += second.forward({QStringLiteral("mossbridge://ping")});
                errors += second.forward({});
                step = 1;
            } else {
                step = 2;
            }
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("later-launch"));
    });
    later->start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return step.load() != 0; }));
    later->wait();
    delete later;

    EXPECT_EQ(step.load(), 1) << "the second launch did not see the first";
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();
    EXPECT_EQ(opened, QStringList {QStringLiteral("mossbridge://ping")});
    EXPECT_EQ(activations, 1);
}

TEST(SingleInstance, WithoutABusTheProgramRunsAloneAndSaysWhy)
{
    QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("no-bus"));
    SingleInstance instance(QStringLiteral("app.mossbridge.Mossbridge"), none);
    EXPECT_EQ(instance.claim(), SingleInstance::Role::alone);
    EXPECT_FALSE(instance.aloneReason().isEmpty());
    QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

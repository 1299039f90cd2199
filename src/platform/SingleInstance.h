#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

// One running instance per session: the first owns the application id on the session bus and
// serves org.freedesktop.Application; a later launch hands its URLs (or a plain activation) to
// it and ends. Main thread only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        primary,   // this process owns the name and serves requests
        secondary, // another instance owns it
        alone,     // no session bus (or it refused us): run without the single-instance rule
    };

    explicit SingleInstance(const QString& applicationId, QDBusConnection bus = QDBusConnection::sessionBus(),
        QObject* parent = nullptr);
    ~SingleInstance() override;

    Role claim();
    // Why the instance runs alone (after claim() answered alone).
    QString aloneReason() const { return aloneReason_; }

    // For a secondary: hands the URLs to the running instance (Open), or activates it when there
    // are none. Returns the failure's text, or an empty string.
    QString forward(const QStringList& urls);

    // The name as an object path: "/" and the name with its dots as slashes.
    static QString objectPath(const QString& applicationId);

Q_SIGNALS:
    void activateRequested();
    void openRequested(const QStringList& urls);

private:
    QString applicationId_;
    QDBusConnection bus_;
    QString aloneReason_;
    QObject* exported_ = nullptr;
    bool ownsName_ = false;
};

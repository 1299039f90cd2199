#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

namespace testsupport {

// Takes the addresses the program hands to the desktop for one URL scheme instead of
// launching anything.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(const QString& scheme);
    ~UrlRecorder() override;

    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl& url);

private:
    QString scheme_;
};

} // namespace testsupport

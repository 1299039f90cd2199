#include "support/UrlRecorder.h"

#include <QDesktopServices>

namespace testsupport {

UrlRecorder::UrlRecorder(const QString& scheme)
    : scheme_(scheme)
{
    QDesktopServices::setUrlHandler(scheme_, this, "open");
}

UrlRecorder::~UrlRecorder()
{
    QDesktopServices::unsetUrlHandler(scheme_);
}

void UrlRecorder::open(const QUrl& url)
{
    urls.append(url);
}

} // namespace testsupport

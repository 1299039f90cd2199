#include "support/StdoutCapture.h"

#include <QFile>

#include <unistd.h>

#include <cstdio>

namespace testsupport {

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    file_.open();
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(file_.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    restore();
}

QString StdoutCapture::text()
{
    restore();
    QFile reader(file_.fileName());
    if (!reader.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(reader.readAll());
}

void StdoutCapture::restore()
{
    if (saved_ >= 0) {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
}

} // namespace testsupport

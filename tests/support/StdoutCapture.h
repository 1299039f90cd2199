#pragma once

#include <QString>
#include <QTemporaryFile>

namespace testsupport {

// Redirects standard output into a file while it lives; text() gives what was printed.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();

    // Ends the redirection and reads what was printed.
    QString text();

private:
    void restore();

    QTemporaryFile file_;
    int saved_ = -1;
};

} // namespace testsupport

#pragma once

#include <QTemporaryDir>

// Every XDG folder of this process points into a temporary one while it lives, so that a
// benchmark never touches the user's settings, vault or desktop entries.
class BenchHome {
public:
    BenchHome();
    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

private:
    QTemporaryDir home_;
};

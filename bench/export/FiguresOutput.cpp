#include "FiguresOutput.h"

#include <unistd.h>

FILE* figuresApartFromStandardOutput()
{
    std::fflush(stdout);
    FILE* figures = fdopen(dup(STDOUT_FILENO), "w");
    if (figures == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) {
        return stdout;
    }
    return figures;
}

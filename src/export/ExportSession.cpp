#include "export/ExportSession.h"

#include <iterator>

QString ExportSession::wireText(Status status)
{
    // In the order of the enumeration.
    static const char* const texts[] = {"starting", "scrolling", "capturing", "downloading", "error", "complete"};
    static_assert(std::size(texts) == static_cast<std::size_t>(Status::complete) + 1);
    return QString::fromLatin1(texts[static_cast<std::size_t>(status)]);
}

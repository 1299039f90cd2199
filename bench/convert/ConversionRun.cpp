#include "ConversionRun.h"

#include "convert/MarkdownConverter.h"

#include <cstdio>

qint64 convertLikeTheExport(const QString& page, const QByteArray& attachment, qsizetype expectedAssets)
{
    MarkdownConverter converter(page);
    converter.onRequestDownload = [&converter, &attachment](const QString& url) {
        converter.saveDownloadedFile(url, attachment, std::nullopt);
    };
    converter.process(true);
    const QString note = converter.process(false);
    if (converter.assets().size() != expectedAssets) {
        std::fprintf(stderr, "unexpected asset count %lld\n", static_cast<long long>(converter.assets().size()));
    }
    return note.size();
}

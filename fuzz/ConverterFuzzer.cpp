// The whole converter on arbitrary HTML, the way an export uses it: construction, the dry
// run, then the real run with every download answered at once (some with an error, so the
// links of failed downloads are exercised too).

#include "FuzzSupport.h"

#include "convert/MarkdownConverter.h"

#include <QHash>

#include <chrono>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace std::chrono_literals;
    const QString html = QString::fromUtf8(fuzzsupport::bytes(data, size));
    try {
        MarkdownConverter converter(html, std::nullopt, QDateTime(QDate(2025, 1, 2), QTime(10, 0)),
            QStringLiteral("https://poe.com/chat/fuzz"));
        converter.updateFilename(MarkdownConverter::sanitizeFilename(converter.suggestedFilename()));
        converter.setWaitDurations(1s, 1s, 1ms);
        converter.logger = [](const QString& line) { (void)line.size(); };
        converter.onProgress = [](qint64, qint64) {};
        converter.onRequestDownload = [&converter](const QString& url) {
            if (qHash(url) % 3 == 0) {
                converter.saveDownloadedFile(url, std::nullopt, QStringLiteral("fuzz failure"));
            } else {
                converter.saveDownloadedFile(url, url.toUtf8(), std::nullopt);
            }
        };
        converter.setTotalAssets(0);
        converter.process(true);
        const QString note = converter.process(false);
        if (converter.processedAssets() != converter.totalAssets()) {
            __builtin_trap(); // every download was answered
        }
        (void)note.size();
        // Every name made from the page fits the file system.
        if (converter.suggestedFilename().toUtf8().size() > 255) {
            __builtin_trap();
        }
        for (const QString& name : converter.assets().keys()) {
            if (name.toUtf8().size() > 255) {
                __builtin_trap();
            }
        }
    } catch (const ConversionError&) {
        // The page could not be parsed: reported to the user as a failed conversion.
    }
    return 0;
}

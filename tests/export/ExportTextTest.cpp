// The captured page's UTF-8 check, made a slice at a time, agrees with decoding the page whole:
// characters and faults at and across the slices' edges included.

#include "export/ExportText.h"

#include <gtest/gtest.h>

namespace {

TEST(ExportText, Utf8CheckAgreesWithDecoding)
{
    constexpr qsizetype slice = 16 * 1024; // the check's slice
    const QByteArray pad(slice - 2, 'a');
    const struct {
        QByteArray bytes;
        const char* what;
    } cases[] = {
        {QByteArray(), "empty"},
        {QByteArray("<html>plain</html>"), "ASCII"},
        {QByteArray("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "two-, three- and four-byte characters"},
        {QByteArray("\xEF\xBB\xBF<html>"), "a leading byte-order mark"},
        {pad + QByteArray("\xF0\x9F\x98\x80") + pad, "a four-byte character across a slice edge"},
        {pad + QByteArray("\xE2\x82") + pad, "a character cut inside, across a slice edge"},
        {QByteArray(slice, 'a') + QByteArray("\xFF") + pad, "an invalid byte first in a slice"},
        {QByteArray("<html>\xFF\xFE</html>"), "invalid bytes"},
        {QByteArray("\xC0\xAF"), "an overlong form"},
        {QByteArray("\xED\xA0\x80"), "an encoded surrogate"},
        {QByteArray("\xF4\x90\x80\x80"), "past U+10FFFF"},
        {pad + QByteArray("\xE2\x82"), "cut short at the end"},
        {QByteArray("\xEF\xBF\xBE"), "a noncharacter"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExportText::isUtf8(c.bytes), ExportText::decodeUtf8(c.bytes).has_value()) << c.what;
    }
    EXPECT_TRUE(ExportText::isUtf8(cases[4].bytes));
    EXPECT_FALSE(ExportText::isUtf8(cases[6].bytes));
}

} // namespace

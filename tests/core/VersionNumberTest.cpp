#include "core/VersionNumber.h"

#include <gtest/gtest.h>

TEST(VersionNumber, ComparesDigitRunsAsNumbers)
{
    const struct {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"0.9.9", "0.10.0", -1},
        {"0.10.0", "0.10.0", 0},
        {"1.2.10", "1.2.9", 1},
        {"0.010.0", "0.10.0", 0},
        {"1.0", "1.0.0", -1},
        {"2.0.0-beta", "2.0.0", 1},
        {"99999999999999999999999.1", "99999999999999999999999.2", -1},
        {"", "0.1", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionNumber::compare(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(VersionNumber::compare(QString::fromLatin1(c.b), QString::fromLatin1(c.a)), -c.order) << c.b << " vs " << c.a;
    }
}

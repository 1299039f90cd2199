#include "ui/OnboardingColor.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

struct HexCase {
    const char* text;
    int red, green, blue, alpha;
};

void PrintTo(const HexCase& c, std::ostream* out)
{
    *out << '"' << c.text << '"';
}

class OnboardingColorHex : public ::testing::TestWithParam<HexCase> {};

TEST_P(OnboardingColorHex, ReadsTheDigitsByTheirCount)
{
    const HexCase& c = GetParam();
    const QColor color = OnboardingColor::fromHex(QString::fromUtf8(c.text));
    EXPECT_EQ(color.red(), c.red) << c.text;
    EXPECT_EQ(color.green(), c.green) << c.text;
    EXPECT_EQ(color.blue(), c.blue) << c.text;
    EXPECT_EQ(color.alpha(), c.alpha) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, OnboardingColorHex, ::testing::Values(
    HexCase{"7c3aed", 0x7c, 0x3a, 0xed, 255},
    HexCase{"#7c3aed", 0x7c, 0x3a, 0xed, 255},
    HexCase{"  #7C3AED; ", 0x7c, 0x3a, 0xed, 255},      // only the ends are stripped
    HexCase{"abc", 170, 187, 204, 255},
    HexCase{"1a1a1a", 26, 26, 26, 255},
    HexCase{"807c3aed", 0x7c, 0x3a, 0xed, 0x80},         // 8 digits: alpha first
    HexCase{"00ffffff", 255, 255, 255, 0},
    HexCase{"12345", 255, 255, 0, 255},                  // any other length: yellow
    HexCase{"", 255, 255, 0, 255},
    HexCase{"1234567890", 255, 255, 0, 255},
    HexCase{"zzzzzz", 0, 0, 0, 255}));                   // six characters, no digit: 0

} // namespace

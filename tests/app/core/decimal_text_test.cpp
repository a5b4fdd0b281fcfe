#include "base/decimal_text.h"

#include <gtest/gtest.h>

namespace korvimo {
namespace {

TEST(DecimalText, SignAndDigitsAfterWhiteSpaceUpToTheFirstNonDigit) {
    EXPECT_EQ(readDecimal("42"), 42u);
    EXPECT_EQ(readDecimal(" \t\r\n42abc"), 42u);
    EXPECT_EQ(readDecimal("+7"), 7u);
    EXPECT_EQ(readDecimal("1.3.6"), 1u);
    EXPECT_EQ(readDecimal("- 5"), 0u);  // no white space after the sign
}

TEST(DecimalText, TextWithoutDigitsIsZero) {
    EXPECT_EQ(readDecimal(""), 0u);
    EXPECT_EQ(readDecimal("abc"), 0u);
    EXPECT_EQ(readDecimal("-"), 0u);
}

TEST(DecimalText, ValuesWrapModuloTwoToTheThirtySecond) {
    EXPECT_EQ(readDecimal("4294967295"), 4294967295u);
    EXPECT_EQ(readDecimal("4294967297"), 1u);
    EXPECT_EQ(readDecimal("-1"), 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(readDecimal("-2147483648")), INT32_MIN);
}

}  // namespace
}  // namespace korvimo

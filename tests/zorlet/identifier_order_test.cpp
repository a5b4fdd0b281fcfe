#include "zorlet/identifier_order.h"

#include <gtest/gtest.h>

#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {
namespace {

TEST(IdentifierOrder, ComparesPiecesAsNumbers) {
    EXPECT_GT(compareIdentifiers("1.3.6.1.2.1.10", "1.3.6.1.2.1.9"), 0);
    EXPECT_LT(compareIdentifiers("1.3.6.1", "1.3.6.1.0"), 0);
    EXPECT_EQ(compareIdentifiers("1.3.6", "1.03.6"), 0);
    EXPECT_EQ(compareIdentifiers("1.3x.6", "1.3.6"), 0);
}

TEST(IdentifierOrder, ReadsEmptyPiecesAsZeroAndSaturatesHugeOnes) {
    EXPECT_EQ(compareIdentifiers("1..2", "1.0.2"), 0);
    EXPECT_GT(compareIdentifiers("1.", "1"), 0);
    EXPECT_EQ(compareIdentifiers("99999999999999", "4294967295"), 0);
    EXPECT_GT(compareIdentifiers("4294967295", "4294967294"), 0);
}

TEST(LineTokens, TakesTokenAndKeepsNewlineInRest) {
    TokenSplit s = takeToken("ifEntry.1\tifIndex  Integer RO\n");
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.token, "ifEntry.1");
    EXPECT_EQ(s.rest, "ifIndex  Integer RO\n");
    TokenSplit last = takeToken("RO\n");
    EXPECT_EQ(last.token, "RO");
    EXPECT_EQ(last.rest, "\n");
    EXPECT_FALSE(takeToken("  \n").found);
    EXPECT_FALSE(takeToken("").found);
}

}  // namespace
}  // namespace korvimo::zorlet

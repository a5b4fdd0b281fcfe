#include "store/value_expression.h"

#include <gtest/gtest.h>

#include <string>

namespace korvimo::store {
namespace {

TEST(ValueExpression, RecognisesKeywordsByTheirBeginning) {
    EXPECT_EQ(recogniseForSetUp("fixed(1)"), Behaviour::Fixed);
    EXPECT_EQ(recogniseForSetUp("fixedly(1)"), Behaviour::Fixed);
    EXPECT_EQ(recogniseForSetUp("dfixed(1)"), Behaviour::Dfixed);
    EXPECT_EQ(recogniseForSetUp("r_lastset(1,2,3)"), Behaviour::RLastset);
    EXPECT_EQ(recogniseForSetUp("lastset(1)"), Behaviour::Lastset);
    EXPECT_EQ(recogniseForSetUp("randomup(1)"), Behaviour::Randomup);
    EXPECT_EQ(recogniseForSetUp("random(1)"), Behaviour::Random);
    EXPECT_EQ(recogniseForSetUp("clock(1)"), Behaviour::Clock);
    EXPECT_EQ(recogniseForSetUp("sequential(1,2)"), Behaviour::Sequential);
    EXPECT_EQ(recogniseForSetUp("seqinc(1,2,3)"), Behaviour::Seqinc);
    EXPECT_EQ(recogniseForSetUp("seqtimeinc(1,2,3)"), Behaviour::Seqtimeinc);
    EXPECT_EQ(recogniseForSetUp("rowstatus(1)"), Behaviour::Rowstatus);
    EXPECT_EQ(recogniseForSetUp("Fixed(1)"), Behaviour::None);
    EXPECT_EQ(recogniseForSetUp(" fixed(1)"), Behaviour::None);
    EXPECT_EQ(recogniseForSetUp("rangeinst(3)"), Behaviour::None);
}

TEST(ValueExpression, ValueMakingKnowsSeqtimeincByFiveCharacters) {
    EXPECT_EQ(recogniseForValue("seqtimeinc(1,2,3)"), Behaviour::Seqtimeinc);
    EXPECT_EQ(recogniseForValue("seqtiX(1,2,3)"), Behaviour::Seqtimeinc);
    EXPECT_EQ(recogniseForSetUp("seqtiX(1,2,3)"), Behaviour::None);
    EXPECT_EQ(recogniseForValue("seqinc(1,2,3)"), Behaviour::Seqinc);
}

TEST(ValueExpression, NumericBehavioursFitOnlyNumberSyntaxes) {
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::Random, 0x02));
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::Clock, 0x43));
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::Clock, 0x05));
    EXPECT_FALSE(behaviourFitsSyntax(Behaviour::Clock, 0x04));
    EXPECT_FALSE(behaviourFitsSyntax(Behaviour::Sequential, 0x40));
    EXPECT_FALSE(behaviourFitsSyntax(Behaviour::Seqinc, 0x46));
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::Randomup, 0x46));
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::Lastset, 0x06));
    EXPECT_TRUE(behaviourFitsSyntax(Behaviour::None, 0x04));
}

TEST(ValueExpression, ReadsSignedDecimalsAsTheir32BitPattern) {
    EXPECT_EQ(readNumber("  42xyz"), 42);
    EXPECT_EQ(readNumber("-7"), -7);
    EXPECT_EQ(readNumber("+7"), 7);
    EXPECT_EQ(readNumber("abc"), 0);
    EXPECT_EQ(readNumber(""), 0);
    EXPECT_EQ(static_cast<uint32_t>(readNumber("4294967295")), 4294967295u);
    EXPECT_EQ(static_cast<uint32_t>(readNumber("4294967296")), 0u);
}

TEST(ValueExpression, ReadsUpToThreeArgumentsAndMarksThoseLeftOut) {
    ExpressionArguments a = readArguments("seqinc( 0 , 5,12)");
    EXPECT_EQ(a.value[0], 0);
    EXPECT_EQ(a.value[1], 5);
    EXPECT_EQ(a.value[2], 12);
    EXPECT_TRUE(a.present[0]);
    a = readArguments("randomup(10)");
    EXPECT_EQ(a.value[0], 10);
    EXPECT_FALSE(a.present[1]);
    EXPECT_EQ(a.value[2], 0);
    a = readArguments("random(1,,3)");
    EXPECT_FALSE(a.present[1]);
    EXPECT_EQ(a.value[2], 3);
    a = readArguments("clock");
    EXPECT_FALSE(a.present[0]);
}

TEST(ValueExpression, ValueTextRunsToTheLastClosingParenthesis) {
    EXPECT_EQ(valueText("fixed(a, (b), c)"), "a, (b), c");
    EXPECT_EQ(valueText("fixed(abc)   "), "abc");
    EXPECT_EQ(valueText("fixed()"), "");
    EXPECT_EQ(valueText("fixed(abc) tail"), "abc) tail");
    EXPECT_EQ(valueText("fixed"), "");
    const std::string big = "fixed(" + std::string(40000, 'x') + ")";
    EXPECT_EQ(valueText(big).size(), 40000u);  // a captured long string is kept whole
}

TEST(ValueExpression, RangedArgumentsReadMissingBoundsAsMinusOne) {
    RangedArguments r = readRangedArguments("r_lastset(1, 10, 5)");
    EXPECT_EQ(r.min, 1);
    EXPECT_EQ(r.max, 10);
    EXPECT_EQ(r.value, "5");
    r = readRangedArguments("r_lastset(, , abc def )");
    EXPECT_EQ(r.min, -1);
    EXPECT_EQ(r.max, -1);
    EXPECT_EQ(r.value, "abc def");
    r = readRangedArguments("r_lastset(0, 8, abc, more)");
    EXPECT_EQ(r.value, "abc");
    r = readRangedArguments("r_lastset(3)");
    EXPECT_EQ(r.min, 3);
    EXPECT_EQ(r.max, -1);
    EXPECT_EQ(r.value, "");
}

std::string octetsOf(std::string_view text) {
    std::vector<uint8_t> out;
    readOctets(text, out);
    EXPECT_EQ(octetCount(text), out.size()) << text;
    return std::string(out.begin(), out.end());
}

TEST(ValueExpression, ReadsHexOctetsPairedFromTheRight) {
    EXPECT_EQ(octetsOf("0x414243"), "ABC");
    EXPECT_EQ(octetsOf("0xaBc"), std::string("\x0a\xbc", 2));
    EXPECT_EQ(octetsOf("0x00"), std::string(1, '\0'));
    EXPECT_EQ(octetsOf("0x4G"), "0x4G");
    EXPECT_EQ(octetsOf("0X41"), "0X41");
    EXPECT_EQ(octetsOf("0x"), "0x");
    EXPECT_EQ(octetsOf("plain, text"), "plain, text");
}

TEST(ValueExpression, ReadsDottedQuadsStrictly) {
    uint8_t a[4] = {9, 9, 9, 9};
    ASSERT_TRUE(readDottedQuad(" 192.168.1.10 ", a));
    EXPECT_EQ(a[0], 192);
    EXPECT_EQ(a[3], 10);
    EXPECT_FALSE(readDottedQuad("1.2.3.256", a));
    EXPECT_FALSE(readDottedQuad("1.2.3", a));
    EXPECT_FALSE(readDottedQuad("1.2.3.4.5", a));
    EXPECT_FALSE(readDottedQuad("1..3.4", a));
    EXPECT_FALSE(readDottedQuad("0001.2.3.4", a));
}

TEST(ValueExpression, ReadsCounter64TextIn64Bits) {
    EXPECT_EQ(readUnsigned64("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(readUnsigned64(" 4294967296"), 4294967296u);
    EXPECT_EQ(readUnsigned64("-5"), 0u);
}

}  // namespace
}  // namespace korvimo::store

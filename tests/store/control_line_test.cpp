#include "store/control_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvimo::store {
namespace {

std::vector<std::string> allLines(std::string_view text) {
    ControlLines lines(text);
    std::vector<std::string> out;
    std::string_view line;
    while (lines.next(line)) {
        out.emplace_back(line);
    }
    return out;
}

TEST(ControlLines, AcceptsCrLfAndLfAndALastLineWithoutEnd) {
    EXPECT_EQ(allLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(allLines("a\r\n\r\n"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(allLines(""), std::vector<std::string>{});
    // A CR that does not end a line stays in it, where the syntax check will see it.
    EXPECT_EQ(allLines("a\rb\r\n"), (std::vector<std::string>{"a\rb"}));
}

TEST(ControlLines, NumbersEveryLineAndKnowsItsOffset) {
    ControlLines lines("# c\r\n\r\nx\n");
    std::string_view line;
    ASSERT_TRUE(lines.next(line));
    ASSERT_TRUE(lines.next(line));
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, "x");
    EXPECT_EQ(lines.number(), 3);
    EXPECT_EQ(lines.lineOffset(), 7u);
    EXPECT_FALSE(lines.next(line));
}

TEST(ControlLine, KindIsDecidedByTheFirstCharacterAsItStands) {
    EXPECT_EQ(lineKind(""), LineKind::Empty);
    EXPECT_EQ(lineKind("# x"), LineKind::Comment);
    EXPECT_EQ(lineKind("%drow"), LineKind::Directive);
    EXPECT_EQ(lineKind("  # indented"), LineKind::Attribute);
    EXPECT_EQ(directiveOf("%drowX"), Directive::Row);
    EXPECT_EQ(directiveOf("%dcol a"), Directive::Column);
    EXPECT_EQ(directiveOf("%setaction a"), Directive::SetAction);
    EXPECT_EQ(directiveOf("%setact a"), Directive::Other);
}

TEST(ControlLine, SyntaxCheckWantsAClosingParenthesisOnValueLines) {
    EXPECT_TRUE(passesSyntaxCheck("1.3.6.1, Integer, RO, fixed(1)"));
    EXPECT_TRUE(passesSyntaxCheck("1.3.6.1, Integer, RO, fixed(1)  \t"));
    EXPECT_FALSE(passesSyntaxCheck("1.3.6.1, OctetString, RO, fixed(two"));
    EXPECT_TRUE(passesSyntaxCheck(""));
    EXPECT_TRUE(passesSyntaxCheck("   "));  // read later as an empty name
    EXPECT_TRUE(passesSyntaxCheck("# anything"));
    EXPECT_TRUE(passesSyntaxCheck("%anything"));
    EXPECT_TRUE(passesSyntaxCheck("  # indented comment without commas"));
}

TEST(ControlLine, SyntaxCheckRefusesShortAndOverlongAttributeLines) {
    EXPECT_FALSE(passesSyntaxCheck("1.3.6.1, Integer fixed(1)"));
    EXPECT_FALSE(passesSyntaxCheck("fixed(1)"));
    const std::string longest =
        "1.3.6.1, OctetString, RO, fixed(" + std::string(kMaxControlLineText - 33, 'x') + ")";
    ASSERT_EQ(longest.size(), kMaxControlLineText);
    EXPECT_TRUE(passesSyntaxCheck(longest));
    EXPECT_FALSE(passesSyntaxCheck("1" + longest));
    EXPECT_TRUE(passesSyntaxCheck("#" + std::string(kMaxControlLine, 'c')));
    EXPECT_FALSE(passesSyntaxCheck("%" + std::string(kMaxControlLine, 'c')));
}

TEST(ControlLine, SplitsAtTheFirstThreeCommasAndTrims) {
    AttributeFields f;
    ASSERT_TRUE(splitAttributeLine("  sysDescr.0 ,\tOctetString , RO ,  fixed(a, b, (c)) ", f));
    EXPECT_EQ(f.name, "sysDescr.0");
    EXPECT_EQ(f.syntax, "OctetString");
    EXPECT_EQ(f.access, "RO");
    EXPECT_EQ(f.value, "fixed(a, b, (c))");
    EXPECT_FALSE(splitAttributeLine("a, b, c", f));
    ASSERT_TRUE(splitAttributeLine("a,,,", f));
    EXPECT_EQ(f.syntax, "");
    EXPECT_EQ(f.value, "");
}

TEST(ControlLine, MapsSyntaxWordsExactlyAndOthersToNull) {
    EXPECT_EQ(syntaxCode("Integer"), 0x02);
    EXPECT_EQ(syntaxCode("OctetString"), 0x04);
    EXPECT_EQ(syntaxCode("Bits"), 0x04);
    EXPECT_EQ(syntaxCode("NULL"), 0x05);
    EXPECT_EQ(syntaxCode("ObjectID"), 0x06);
    EXPECT_EQ(syntaxCode("IpAddress"), 0x40);
    EXPECT_EQ(syntaxCode("NetworkAddress"), 0x40);
    EXPECT_EQ(syntaxCode("Counter"), 0x41);
    EXPECT_EQ(syntaxCode("Gauge"), 0x42);
    EXPECT_EQ(syntaxCode("TimeTicks"), 0x43);
    EXPECT_EQ(syntaxCode("Opaque"), 0x44);
    EXPECT_EQ(syntaxCode("Counter64"), 0x46);
    EXPECT_EQ(syntaxCode("integer"), 0x05);
    EXPECT_EQ(syntaxCode("Integer64"), 0x05);
    EXPECT_FALSE(knownSyntaxWord("Integer64"));
}

TEST(ControlLine, ReadsAccessByItsFirstTwoCharacters) {
    EXPECT_EQ(accessCode("RO"), Access::ReadOnly);
    EXPECT_EQ(accessCode("RW"), Access::ReadWrite);
    EXPECT_EQ(accessCode("RC"), Access::ReadWrite);
    EXPECT_EQ(accessCode("ROX"), Access::ReadOnly);
    EXPECT_EQ(accessCode("WO"), Access::WriteOnly);
    EXPECT_EQ(accessCode("NA"), Access::None);
    EXPECT_EQ(accessCode("R"), Access::None);
    EXPECT_EQ(accessCode(""), Access::None);
}

TEST(ControlLine, SplitsDirectivesIntoWordsAndTheirRest) {
    std::string_view words[4];
    std::string_view rest;
    ASSERT_TRUE(
        splitDirective("%dcol  ifDescr   Req  OctetString RW   lastset(a b)  ", 4, words, rest));
    EXPECT_EQ(words[0], "ifDescr");
    EXPECT_EQ(words[1], "Req");
    EXPECT_EQ(words[2], "OctetString");
    EXPECT_EQ(words[3], "RW");
    EXPECT_EQ(rest, "lastset(a b)");
    EXPECT_FALSE(splitDirective("%drow ifEntry", 2, words, rest));
    ASSERT_TRUE(splitDirective("%drow\tifEntry\trowstatus", 2, words, rest));
    EXPECT_EQ(words[1], "rowstatus");
    EXPECT_EQ(rest, "");
}

}  // namespace
}  // namespace korvimo::store

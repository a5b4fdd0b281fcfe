#include "create/walk_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/temp_dir.h"

namespace korvimo::create {
namespace {

using korvimo::testing::TempDir;

// A binding as "name tag value": octets in hex, numbers in decimal, oids dotted.
std::string show(const snmp::VarBind& b) {
    std::string text;
    for (uint32_t id : b.name.ids) {
        text += "." + std::to_string(id);
    }
    const snmp::SyntaxValue& v = b.value;
    char tag[8];
    std::snprintf(tag, sizeof tag, " %02X ", v.syntax);
    text += tag;
    if (v.syntax == snmp::kTagInteger) {
        text += std::to_string(v.integer());
    } else if (v.syntax == snmp::kTagCounter64) {
        text += std::to_string(v.counter64);
    } else if (v.syntax == snmp::kTagObjectId) {
        for (uint32_t id : v.oid.ids) {
            text += "." + std::to_string(id);
        }
    } else if (v.syntax != snmp::kTagNull && v.octets.bytes.empty()) {
        text += std::to_string(v.number);
    }
    for (uint8_t byte : v.octets.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    return text;
}

std::vector<std::string> shown(const WalkContents& walk) {
    std::vector<std::string> out;
    for (const WalkRecord& r : walk.records) {
        out.push_back(std::to_string(r.line) + ": " + show(r.binding));
    }
    return out;
}

std::vector<std::string> problems(const WalkContents& walk) {
    std::vector<std::string> out;
    for (const WalkProblem& p : walk.problems) {
        out.push_back(std::to_string(p.line) + ": " + p.text);
    }
    return out;
}

TEST(WalkFile, ReadsEveryValueFormOfTheWalkForm) {
    const WalkContents walk = parseWalk(
        "# a walk\r\n"
        ".1.3.1 = STRING: \"a \\\"q\\\" \\\\ b\"\r\n"
        "1.3.2 = STRING: plain  text\n"
        ".1.3.3 = STRING: \"two\n"
        "lines\"\n"
        ".1.3.4 = \"\"\n"
        "\n"
        ".1.3.5 = Hex-STRING: 00 16 3E \n"
        "FF 01 \n"
        ".1.3.6 = OID: .1.3.6.1.4\n"
        ".1.3.7 = OID: 0.0\n"
        ".1.3.8 = Timeticks: (12345) 0:02:03.45\n"
        ".1.3.9 = Timeticks: 4294967295\n"
        ".1.3.10 = INTEGER: up(1)\n"
        ".1.3.11 = INTEGER: -2147483648\n"
        ".1.3.12 = Counter32: 4294967295\n"
        ".1.3.13 = Counter64: 18446744073709551615\n"
        ".1.3.14 = Gauge32: 7\n"
        ".1.3.15 = Unsigned32: 8\n"
        ".1.3.16 = UInteger32: 9\n"
        ".1.3.17 = IpAddress: 127.0.0.1\n"
        ".1.3.18 = Network Address: 7F:00:00:02\n"
        ".1.3.19 = BITS: 80 01 sensor(0) other(15)\n"
        ".1.3.20 = Opaque: 9F 78 04\n"
        ".1.3.21 = NULL\n"
        ".1.3.22 = No Such Object available on this agent at this OID\n"
        ".1.3.23 = No Such Instance currently exists at this OID\n"
        ".1.3.24 = Wrong Type (should be INTEGER): Gauge32: 5\n"
        ".1.3.25 = No more variables left in this MIB View (It is past the end of the MIB tree)\n");
    EXPECT_EQ(walk.format, WalkFormat::Walk);
    EXPECT_EQ(walk.lines, 29u);
    EXPECT_TRUE(walk.problems.empty()) << ::testing::PrintToString(problems(walk));
    const std::vector<std::string> expected = {
        "2: .1.3.1 04 6120227122205c2062",
        "3: .1.3.2 04 706c61696e202074657874",
        "4: .1.3.3 04 74776f0a6c696e6573",
        "6: .1.3.4 04 0",
        "8: .1.3.5 04 00163eff01",
        "10: .1.3.6 06 .1.3.6.1.4",
        "11: .1.3.7 06 .0.0",
        "12: .1.3.8 43 12345",
        "13: .1.3.9 43 4294967295",
        "14: .1.3.10 02 1",
        "15: .1.3.11 02 -2147483648",
        "16: .1.3.12 41 4294967295",
        "17: .1.3.13 46 18446744073709551615",
        "18: .1.3.14 42 7",
        "19: .1.3.15 42 8",
        "20: .1.3.16 47 9",
        "21: .1.3.17 40 7f000001",
        "22: .1.3.18 40 7f000002",
        "23: .1.3.19 04 8001",
        "24: .1.3.20 44 9f7804",
        "25: .1.3.21 05 ",
        "28: .1.3.24 42 5",
    };
    EXPECT_EQ(shown(walk), expected);
}

TEST(WalkFile, ReportsUnreadableLinesAndGoesOn) {
    const WalkContents walk = parseWalk(
        ".1.3.1 = Float\x1b]0;32: 1.5\n"
        ".1.3.2 = INTEGER: 2147483648\n"
        ".1.3.3 = Counter32: -1\n"
        ".1.3.4 = Gauge32: 4294967296\n"
        "no separator here\n"
        ".1.3.5 = OID: SNMPv2-SMI::zeroDotZero\n"
        ".1.3.6 = OID: ccitt.0\n"
        "1.x.3 = INTEGER: 1\n"
        ".1.3.7 = Opaque: Text: 1.5\n"
        ".1.3.8 = INTEGER: abc\n"
        ".1.3.9 = IpAddress: 1.2.3\n"
        ".1.3.10 = STRING: \"never closed\n"
        ".1.3.11 = INTEGER: 11\n");
    const std::vector<std::string> expected = {
        "1: unknown type \"Float\\x1b]0;32\"",  // control bytes shown, not sent to a terminal
        "2: \"2147483648\" is no INTEGER",
        "3: \"-1\" is no Counter32",
        "4: \"4294967296\" is no Gauge32",
        "5: no \" = \" in the line",
        "6: \"SNMPv2-SMI::zeroDotZero\" is no numeric object identifier",
        "7: \"ccitt.0\" is no numeric object identifier",
        "8: \"1.x.3\" is no object identifier",
        "9: Opaque value not in hex",
        "10: \"abc\" is no INTEGER",
        "11: \"1.2.3\" is no IpAddress",
        "12: the string's closing quote never comes",
    };
    EXPECT_EQ(problems(walk), expected);
    // The line after an unclosed string is read again as a line of its own.
    EXPECT_EQ(shown(walk), std::vector<std::string>{"13: .1.3.11 02 11"});
}

TEST(WalkFile, OpaqueFloatsAndCommentsBetweenBindings) {
    const WalkContents walk = parseWalk(
        ".1.3.1 = Opaque: Float: 1.500000\n"
        "  # a comment where a binding could begin\n"
        ".1.3.2 = Opaque: Double: -2.5\n"
        ".1.3.3 = STRING: \"first\n"
        "# inside the string\"\n"
        ".1.3.4 = Opaque: Float: many\n");
    const std::vector<std::string> expected = {
        "1: .1.3.1 44 9f78043fc00000",
        "3: .1.3.2 44 9f7908c004000000000000",
        "4: .1.3.3 04 66697273740a2320696e736964652074686520737472696e67",
    };
    EXPECT_EQ(shown(walk), expected);
    EXPECT_EQ(problems(walk), std::vector<std::string>{"6: \"many\" is no Float"});
}

TEST(WalkFile, ReadsSnmprecLines) {
    const WalkContents walk = parseWalk(
        "# recorded\n"
        "1.3.1|2|-5\n"
        ".1.3.2|4|text|with bars\n"
        "1.3.3|4x|00163e\n"
        "1.3.4|5|\n"
        "1.3.5|6|1.3.6.1\n"
        "1.3.6|64|10.0.0.1\n"
        "1.3.7|64x|0a000002\n"
        "# between\n"
        "1.3.8|65|4294967295\n"
        "1.3.9|66|6\n"
        "1.3.10|67|7\n"
        "1.3.11|68x|9f78\n"
        "1.3.12|70|18446744073709551615\n"
        "1.3.13|3x|80\n"
        "1.3.14|2x|05\n"
        "1.3.15|99|1\n"
        "1.3.16|4y|a\n"
        "1.3.17|4x|abc\n"
        "1.3.18|65|-1\n"
        "1.3.19 = INTEGER: 1\n");
    EXPECT_EQ(walk.format, WalkFormat::Snmprec);
    const std::vector<std::string> expected = {
        "2: .1.3.1 02 -5",       "3: .1.3.2 04 746578747c776974682062617273",
        "4: .1.3.3 04 00163e",   "5: .1.3.4 05 ",
        "6: .1.3.5 06 .1.3.6.1", "7: .1.3.6 40 0a000001",
        "8: .1.3.7 40 0a000002", "10: .1.3.8 41 4294967295",
        "11: .1.3.9 42 6",       "12: .1.3.10 43 7",
        "13: .1.3.11 44 9f78",   "14: .1.3.12 46 18446744073709551615",
        "15: .1.3.13 04 80",
    };
    EXPECT_EQ(shown(walk), expected);
    const std::vector<std::string> expectedProblems = {
        "16: tag 2 takes no hex value",
        "17: unknown tag \"99\"",
        "18: unknown tag \"4y\"",
        "19: \"abc\" is no hex digits",
        "20: \"-1\" is no 32-bit unsigned number",
        "21: not OID|TAG|VALUE",
    };
    EXPECT_EQ(problems(walk), expectedProblems);
}

TEST(WalkFile, ReadFailsWithThePathOnAMissingFileOrAFifo) {
    TempDir dir;
    WalkContents walk;
    const std::string missing = dir.path("missing.walk");
    Result read = readWalkFile(missing, walk);
    ASSERT_FALSE(read);
    EXPECT_NE(read.text().find(missing), std::string_view::npos) << read.text();
    const std::string fifo = dir.path("fifo.walk");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    read = readWalkFile(fifo, walk);
    ASSERT_FALSE(read);
    EXPECT_NE(read.text().find(fifo), std::string_view::npos) << read.text();

    const std::string file = dir.path("ok.walk");
    korvimo::testing::writeFile(file, ".1.3.6.1.2.1.1.5.0 = STRING: \"host\"\n");
    ASSERT_TRUE(readWalkFile(file, walk)) << read.text();
    ASSERT_EQ(walk.records.size(), 1u);
}

}  // namespace
}  // namespace korvimo::create

// The object lines as the file creators read them, the initial values and value behaviours
// they give, the list of compiled MIBs and the value formats block.
#include "create/mib_objects.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace korvimo::create {
namespace {

// The object of a one-line mibinfo.out.
struct Line {
    std::shared_ptr<const mibinfo::MibInfo> mib;
    ObjectRecord object;
};
Line objectOf(const std::string& line) {
    Line l;
    l.mib = mibinfo::MibInfo::fromText(line + "\r\n");
    l.object = objectRecord(l.mib->records().front());
    return l;
}

std::string behaviourOf(const std::string& line) {
    const Line l = objectOf(line);
    return valueBehaviour(l.object, initialValue(l.object, l.object.descriptor));
}

TEST(ObjectLine, FieldsAfterTheBaseType) {
    const Line l = objectOf("1.3.6.1.2.1.1.5   sysName   OctetString  RW S  (0,255) d");
    EXPECT_EQ(l.object.identifier, "1.3.6.1.2.1.1.5");
    EXPECT_EQ(l.object.descriptor, "sysName");
    EXPECT_EQ(l.object.type, "OctetString");
    EXPECT_EQ(l.object.access, "RW");
    EXPECT_EQ(l.object.kind, "S");
    EXPECT_TRUE(l.object.hasRange);
    EXPECT_EQ(l.object.low, 0);
    EXPECT_EQ(l.object.high, 255);
    EXPECT_EQ(l.object.marker, 'd');
    EXPECT_TRUE(l.object.writable());
    EXPECT_TRUE(l.object.scalar());

    // The range counts only once its ")" is reached; a one-character word is no range.
    EXPECT_FALSE(objectOf("1.2 a Integer RO C1 (1,5").object.hasRange);
    EXPECT_FALSE(objectOf("1.2 a Integer RO C r").object.hasRange);
    EXPECT_EQ(objectOf("1.2 a Integer RO C r").object.marker, 'r');
    EXPECT_TRUE(objectOf("1.2 a Integer RO C1").object.firstColumn());
    const Line negative = objectOf("1.2 a Integer RO C (-5,10)");
    EXPECT_EQ(negative.object.low, -5);
    EXPECT_EQ(negative.object.high, 10);
    // Access codes compare on their first two characters.
    EXPECT_TRUE(objectOf("1.2 a Integer RCx S").object.writable());
    EXPECT_TRUE(objectOf("1.2 a Integer WO S").object.writable());
    EXPECT_FALSE(objectOf("1.2 a Integer NA S").object.writable());
}

TEST(ObjectLine, ValueBehaviourOfTheWorkedExamples) {
    EXPECT_EQ(behaviourOf("1.3.6.1.4.1.1.1 sysFoo Counter RO S"), "randomup(1000, 100)");
    EXPECT_EQ(behaviourOf("1.2 g Gauge RO S"), "random(1000, 100)");
    EXPECT_EQ(behaviourOf("1.2 t TimeTicks RO S"), "clock(0)");
    EXPECT_EQ(behaviourOf("1.2 w Integer RW S (1,10)"), "r_lastset(1, 10, 1)");
    EXPECT_EQ(behaviourOf("1.2 s Integer RC C (1,6) r"), "rowstatus(1)");
    EXPECT_EQ(behaviourOf("1.2 l Integer RW S"), "lastset(1)");
    EXPECT_EQ(behaviourOf("1.2 n NULL RO S"), "fixed(NULL)");
    EXPECT_EQ(behaviourOf("1.2 i Integer RO S (3,9)"), "fixed(3)");
}

TEST(ObjectLine, InitialValues) {
    const auto initial = [](const std::string& line, const char* descriptor = "x") {
        return initialValue(objectOf(line).object, descriptor);
    };
    EXPECT_EQ(initial("1.2 sysName OctetString RW S (0,10) d", "sysName"), "My_sysNam");
    EXPECT_EQ(initial("1.2 a OctetString RW S (0,255) d", "sysName"), "My_sysName_string");
    EXPECT_EQ(initial("1.2 a OctetString RW S (0,1) d"), "");
    EXPECT_EQ(initial("1.2 a OctetString RO S (6,6)"), "0x010101010101");
    EXPECT_EQ(initial("1.2 a OctetString RO S (500,500)").size(), 2u + 2u * 198u);
    EXPECT_EQ(initial("1.2 a OctetString RO S"), "abc");
    EXPECT_EQ(initial("1.2 a OctetString RO S (0,2) e"), "a");
    EXPECT_EQ(initial("1.2 a OctetString RO S p"), "0x010203040506");
    EXPECT_EQ(initial("1.2 a Integer RW C (1,6) r"), "1");
    EXPECT_EQ(initial("1.2 a Bits RO S"), "0x0102");
    EXPECT_EQ(initial("1.2 a ObjectID RO S"), "1.2.3");
    EXPECT_EQ(initial("1.2 a NetworkAddress RO S"), "1.2.3.4");
    EXPECT_EQ(initial("1.2 a Counter64 RO S"), "1000");
    EXPECT_EQ(initial("1.2 a NULL RO S"), "");
}

TEST(MibList, LinesAfterTheHeadingWithoutLeadingBlanks) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("miblist-" + std::to_string(::getpid())))
            .string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "MIBs compiled:\r\n  RFC1213-MIB\r\n\tIF-MIB\r\n";
    }
    std::vector<std::string> mibs;
    EXPECT_TRUE(readMibList(path, mibs).ok());
    EXPECT_EQ(mibs, (std::vector<std::string>{"RFC1213-MIB", "IF-MIB"}));
    std::filesystem::remove(path);
    const Result missing = readMibList(path, mibs);
    EXPECT_FALSE(missing.ok());
    EXPECT_FALSE(missing.text().empty());
}

TEST(ValueFormats, TwelvePaddedLines) {
    const std::string block = valueFormatsBlock();
    EXPECT_EQ(block.rfind("# Value type formats:", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t start = 0; start < block.size(); ++lines) {
        const std::size_t end = block.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(end - start, 52u) << block.substr(start, end - start);
        start = end + 2;
    }
    EXPECT_EQ(lines, 12u);
    EXPECT_NE(block.find("#     rowstatus(current_value)                      \r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace korvimo::create

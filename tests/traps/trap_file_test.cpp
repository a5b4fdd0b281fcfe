// Trap files: lines and fields as TrapFile reads them, and the writer's lines read back.
#include "traps/trap_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "agent/message_sending.h"
#include "app/core/temp_dir.h"
#include "traps/trap_writer.h"

namespace korvimo::traps {
namespace {

using Bytes = std::vector<uint8_t>;

TrapFile fileOf(std::string text) {
    TrapFile file;
    file.assign(std::move(text));
    return file;
}

TEST(TrapFileTest, DefinitionFieldsAndListing) {
    const TrapFile file = fileOf(
        "%T  myTrap , 1.3.6.1.4.1.99 ,6, 17 and further words\r\n"
        "%T big, 1.3.6.1.4.1.99, 1234567890, -12x\r\n"
        "%T short, 1.3.6.1.4.1.99\r\n"
        "%T    \r\n"
        "%T hidden, 1.3.6.1.4.1.99, 7, 3\r\n");
    EXPECT_EQ(file.names(), (std::vector<std::string>{"myTrap", "big", "short"}));

    TrapDefinition trap;
    ASSERT_TRUE(file.definition(0, trap));
    EXPECT_EQ(trap.name + "|" + trap.enterprise, "myTrap|1.3.6.1.4.1.99");
    EXPECT_EQ(std::make_pair(trap.generic, trap.specific), std::make_pair(6, 17));
    ASSERT_TRUE(file.definition(1, trap));  // generic from its first nine characters
    EXPECT_EQ(std::make_pair(trap.generic, trap.specific), std::make_pair(123456789, -12));
    EXPECT_FALSE(file.definition(2, trap));  // listed, but cannot be sent
    EXPECT_FALSE(file.definition(3, trap));
    // Positions count every "%T" line, also those after the end of the listing.
    ASSERT_TRUE(file.definition(4, trap));
    EXPECT_EQ(trap.name, "hidden");
    EXPECT_FALSE(file.definition(5, trap));
}

TEST(TrapFileTest, LineEndsAndTags) {
    for (const char* text : {"%V a, 1.3.6.1.2.1.1.7.0, Integer, 5\r%T a, 1.3.6.1.4.1.9, 0, 0\r",
                             "%V a, 1.3.6.1.2.1.1.7.0, Integer, 5\n%T a, 1.3.6.1.4.1.9, 0, 0",
                             "# c\r\n%v a, 1.3.6.1.2.1.1.1.0, Integer, 9\r\n"
                             " %V a, 1.3.6.1.2.1.1.1.0, Integer, 9\r\n"
                             "%V a, 1.3.6.1.2.1.1.7.0, Integer, 5\r\n"
                             " %T b, 1.3.6.1.4.1.9, 0, 0\r\n%t c, 1.3.6.1.4.1.9, 0, 0\r\n"
                             "%T a, 1.3.6.1.4.1.9, 0, 0\r\n"}) {
        SCOPED_TRACE(text);
        const TrapFile file = fileOf(text);
        ASSERT_EQ(file.names(), std::vector<std::string>{"a"});
        snmp::VarBindList list;
        ASSERT_TRUE(file.appendBindings("a", nullptr, list));
        ASSERT_EQ(list.count(), 1u);  // the "%V" line before its "%T" line belongs to it
        EXPECT_EQ(list.items[0].name.ids[7], 7u);  // sysServices, not sysDescr
        EXPECT_EQ(list.items[0].value.number, 5u);
    }
}

TEST(TrapFileTest, Bindings) {
    const auto mib = mibinfo::MibInfo::fromText(
        "1.3.6.1.2.1.1.3           sysUpTime               TimeTicks    RO S\r\n");
    const TrapFile file = fileOf(
        "%T t, 1.3.6.1.4.1.9, 6, 1\r\n"
        "%V t, sysUpTime.0, TimeTicks, 4200\r\n"
        "%V t, 1.3.6.1.2.1.1.1.0, OctetString, 0x0A0b\r\n"
        "%V t, 1.3.6.1.2.1.1.1.0, OctetString, 0x\r\n"
        "%V t, 1.3.6.1.2.1.1.1.0, OctetString,   ends in a blank , after a fourth comma\r\n"
        "%V unknownType, 1.3.6.1.2.1.1.1.0, Float, 1.5\r\n"
        "%V threeFields, 1.3.6.1.2.1.1.1.0, Integer\r\n");
    snmp::VarBindList list;
    ASSERT_TRUE(file.appendBindings("t", mib.get(), list));
    ASSERT_EQ(list.count(), 4u);
    EXPECT_EQ(list.items[0].name.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 1, 3, 0}));
    EXPECT_EQ(list.items[0].value.syntax, snmp::kTagTimeTicks);
    EXPECT_EQ(list.items[0].value.number, 4200u);
    EXPECT_EQ(list.items[1].value.octets.bytes, (Bytes{10, 11}));
    EXPECT_TRUE(list.items[2].value.octets.bytes.empty());
    const std::string blank = "ends in a blank ";
    EXPECT_EQ(list.items[3].value.octets.bytes, Bytes(blank.begin(), blank.end()));

    EXPECT_EQ(file.appendBindings("unknownType", mib.get(), list).text(),
              kAttributeTypeUnknownText);
    const Result three = file.appendBindings("threeFields", mib.get(), list);
    EXPECT_TRUE(!three && three.text().empty());
    EXPECT_TRUE(file.appendBindings("noSuchTrap", mib.get(), list));
}

TEST(TrapFileTest, WriterLinesReadBack) {
    const TrapFile file = fileOf(standardTrapsBlock("1.3.6.1.4.1.9") +
                                 variableLine("padded", "1.3.6.1.2.1.1.5.0", "OctetString", "abc") +
                                 variableLine("padded", "1.3.6.1.2.1.1.7.0", "Integer", "72"));
    const std::vector<std::string> names{
        "coldStart", "warmStart", "linkDown", "linkUp", "authenticationFailure", "egpNeighborLoss"};
    ASSERT_EQ(file.names(), names);
    for (int position = 0; position < 6; ++position) {
        TrapDefinition trap;
        ASSERT_TRUE(file.definition(static_cast<std::size_t>(position), trap));
        EXPECT_EQ(trap.enterprise, "1.3.6.1.4.1.9");
        EXPECT_EQ(std::make_pair(trap.generic, trap.specific), std::make_pair(position, 0));
    }
    for (const char* name : {"linkDown", "linkUp"}) {
        snmp::VarBindList list;
        ASSERT_TRUE(file.appendBindings(name, nullptr, list));
        ASSERT_EQ(list.count(), 1u);
        EXPECT_EQ(list.items[0].name.ids, (std::vector<uint32_t>{1, 3, 6, 1, 2, 1, 2, 2, 1, 1}));
        EXPECT_EQ(list.items[0].value.syntax, snmp::kTagInteger);
        EXPECT_EQ(list.items[0].value.integer(), 1);
    }
    snmp::VarBindList list;
    ASSERT_TRUE(file.appendBindings("padded", nullptr, list));
    ASSERT_EQ(list.count(), 2u);
    const std::string abc = "abc       ";  // the padding is part of an octet value
    EXPECT_EQ(list.items[0].value.octets.bytes, Bytes(abc.begin(), abc.end()));
    EXPECT_EQ(list.items[1].value.number, 72u);
}

TEST(TrapFileTest, ReadsFromDiskAndRefusesOtherFiles) {
    testing::TempDir dir;
    testing::writeFile(dir.path("a.trp"), "%T a, 1.3.6.1.4.1.9, 0, 0\r\n");
    TrapFile file;
    ASSERT_TRUE(file.read(dir.path("a.trp")));
    ASSERT_EQ(file.names().size(), 1u);

    ASSERT_EQ(::mkfifo(dir.path("fifo.trp").c_str(), 0600), 0);
    for (const std::string& path : {dir.path("fifo.trp"), dir.root(), dir.path("no.trp")}) {
        EXPECT_FALSE(file.read(path)) << path;
    }
    EXPECT_EQ(file.names().size(), 1u);  // what was read before stays

    file.assign("%T a,1,0,0");  // short enough to live in the string itself
    TrapFile moved = std::move(file);
    TrapDefinition trap;
    ASSERT_TRUE(moved.definition(0, trap));
    EXPECT_EQ(trap.enterprise, "1");
    const TrapFile copy = moved;
    EXPECT_EQ(copy.names(), moved.names());
}

TEST(TrapFileTest, TenThousandTrapsIndexed) {
    std::string text;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "trap" + std::to_string(i);
        text += definitionLine(name, "1.3.6.1.4.1.9", "6", std::to_string(i));
        text += variableLine(name, "1.3.6.1.2.1.2.2.1.1.1", "Integer", std::to_string(i));
        text += variableLine(name, "1.3.6.1.2.1.2.2.1.1.2", "Integer", std::to_string(i + 1));
    }
    const TrapFile file = fileOf(std::move(text));
    ASSERT_EQ(file.names().size(), 10000u);
    TrapDefinition trap;
    ASSERT_TRUE(file.definition(9999, trap));
    EXPECT_EQ(trap.name + "|" + std::to_string(trap.specific), "trap9999|9999");
    snmp::VarBindList list;
    ASSERT_TRUE(file.appendBindings(trap.name, nullptr, list));
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.items[1].value.number, 10000u);
}

}  // namespace
}  // namespace korvimo::traps

#include "store/dynamic_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "store/control_line.h"
#include "store/store_fixture.h"

namespace korvimo::store {
namespace {

using testing::binding;
using testing::number;
using testing::octets;
using testing::octetValue;
using testing::StoreFixture;

// Four tables under 1.3.6.1.4.1.99: t (RowStatus rows, Integer index), n (new-instance rows),
// s (variable-length OctetString index), a (IpAddress and Integer index), i (IMPLIED index),
// m (fixed-size OctetString index); static neighbours at .0.1 and .9.1.
constexpr const char* kMibInfo =
    "1.3.6.1.4.1.99.1.1.1      tIndex                  Integer      NA C1\r\n"
    "1.3.6.1.4.1.99.1.1.2      tName                   OctetString  RC C (0,32) d\r\n"
    "1.3.6.1.4.1.99.1.1.3      tValue                  Integer      RC C\r\n"
    "1.3.6.1.4.1.99.1.1.4      tStatus                 Integer      RC C (1,6) r\r\n"
    "1.3.6.1.4.1.99.2.1.1      nIndex                  Integer      RO C1\r\n"
    "1.3.6.1.4.1.99.2.1.2      nDescr                  OctetString  RW C\r\n"
    "1.3.6.1.4.1.99.2.1.3      nCount                  Counter      RO C\r\n"
    "1.3.6.1.4.1.99.2.1.4      nNote                   OctetString  RW C\r\n"
    "1.3.6.1.4.1.99.3.1.1      sName                   OctetString  NA C1 (0,32)\r\n"
    "1.3.6.1.4.1.99.3.1.2      sValue                  Integer      RW C\r\n"
    "1.3.6.1.4.1.99.4.1.1      aAddr                   IpAddress    RO C1\r\n"
    "1.3.6.1.4.1.99.4.1.2      aPort                   Integer      RO C\r\n"
    "1.3.6.1.4.1.99.4.1.3      aVal                    Integer      RW C\r\n"
    "1.3.6.1.4.1.99.5.1.1      iName                   OctetString  RO C1\r\n"
    "1.3.6.1.4.1.99.5.1.2      iVal                    Integer      RW C\r\n"
    "1.3.6.1.4.1.99.6.1.1      mAddr                   OctetString  RO C1 (6,6)\r\n"
    "1.3.6.1.4.1.99.6.1.2      mVal                    Integer      RW C\r\n"
    "1.3.6.1.4.1.99.10.1.1     oName                   ObjectID     RO C1\r\n"
    "1.3.6.1.4.1.99.10.1.2     oVal                    Integer      RW C\r\n"
    "1.3.6.1.4.1.99.11.1.1     wAddr                   NetworkAddress RO C1\r\n"
    "1.3.6.1.4.1.99.11.1.2     wVal                    Integer      RW C\r\n"
    "%en          1.3.6.1.4.1.99                           acme\r\n"
    "%ei   1.3.6.1.4.1.99.1.1   \"tIndex\"\r\n"
    "%ei   1.3.6.1.4.1.99.2.1   \"nIndex\"\r\n"
    "%ei   1.3.6.1.4.1.99.3.1   \"sName\"\r\n"
    "%ei   1.3.6.1.4.1.99.4.1   \"aAddr aPort\"\r\n"
    "%ei   1.3.6.1.4.1.99.5.1   \"*iName\"\r\n"
    "%ei   1.3.6.1.4.1.99.6.1   \"mAddr\"\r\n"
    "%ei   1.3.6.1.4.1.99.10.1  \"oName\"\r\n"
    "%ei   1.3.6.1.4.1.99.11.1  \"wAddr\"\r\n";

constexpr const char* kNeighbours =
    "1.3.6.1.4.1.99.0.1, Integer, RO, fixed(1)\r\n"
    "1.3.6.1.4.1.99.9.1, Integer, RO, fixed(9)\r\n";

constexpr const char* kStatusRows =
    "%drow  tEntry  rowstatus\r\n"
    "%dcol  tIndex   NotReq Integer     NA  dfixed(0)\r\n"
    "%dcol  tName    Req    OctetString RC  lastset(none)\r\n"
    "%dcol  tValue   Req    Integer     RC  lastset(0)\r\n"
    "%dcol  tStatus  NotReq Integer     RC  rowstatus(1)\r\n";

constexpr const char* kNewRows =
    "%drow  nEntry  newinstance\r\n"
    "%dcol  nIndex   NotReq Integer     RW  dfixed(0)\r\n"
    "%dcol  nDescr   Req    OctetString RW  lastset(new row)\r\n"
    "%dcol  nCount   NotReq Counter     RO  randomup(0)\r\n"
    "%dcol  nNote    NotReq OctetString RW  lastset(note)\r\n";

const std::string kT = "1.3.6.1.4.1.99.1.1.";
const std::string kN = "1.3.6.1.4.1.99.2.1.";

class Rows : public ::testing::Test {
  protected:
    void SetUp() override { f.mibInfo(kMibInfo); }
    bool load(const std::string& directives, const std::string& lines = "") {
        return f.load(directives + kNeighbours + lines);
    }
    uint32_t ordinalOf(const std::string& name) {
        AttributeInfo info;
        snmp::SyntaxValue v;
        return f.get(name, v, &info) ? info.ordinal : UINT32_MAX;
    }

    StoreFixture f;
};

TEST_F(Rows, WritesMarkerLinesWhereTheColumnsBelong) {
    ASSERT_TRUE(load(kStatusRows));
    EXPECT_EQ(f.attributeFile(),
              "1.3.6.1.4.1.99.0.1            , Integer     , RO , fixed(1)\r\n"
              "D1.3.6.1.4.1.99.1.1.1          , 0\r\n"
              "D1.3.6.1.4.1.99.1.1.2          , 1\r\n"
              "D1.3.6.1.4.1.99.1.1.3          , 2\r\n"
              "D1.3.6.1.4.1.99.1.1.4          , 3\r\n"
              "1.3.6.1.4.1.99.9.1            , Integer     , RO , fixed(9)\r\n");
    EXPECT_EQ(f.store.rows().columnCount(), 4u);
    EXPECT_TRUE(f.store.rows().column(0).indexColumn);
    EXPECT_FALSE(f.store.rows().column(1).indexColumn);
    EXPECT_TRUE(f.store.rows().column(1).required);
    EXPECT_FALSE(f.store.rows().column(0).markerPending);
}

TEST_F(Rows, AColumnBeyondEveryAttributeGetsItsMarkerAtTheEnd) {
    ASSERT_TRUE(f.load(std::string(kStatusRows) + "1.3.6.1.4.1.99.0.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_TRUE(f.attributeFile().ends_with("D1.3.6.1.4.1.99.1.1.4          , 3\r\n"));
}

TEST_F(Rows, ServesTheInstancesTheControlFileLists) {
    ASSERT_TRUE(load(kStatusRows,
                     "1.3.6.1.4.1.99.1.1.2.[1-2], Integer, RO, lastset(row)\r\n"
                     "1.3.6.1.4.1.99.1.1.3.[1-2], Integer, RO, rangeinst(11)\r\n"
                     "1.3.6.1.4.1.99.1.1.4.[1-2], Integer, RO, rowstatus(1)\r\n"));
    EXPECT_EQ(f.walk(),
              (std::vector<std::string>{"1.3.6.1.4.1.99.0.1", kT + "2.1", kT + "2.2", kT + "3.1",
                                        kT + "3.2", kT + "4.1", kT + "4.2", "1.3.6.1.4.1.99.9.1"}));
    AttributeInfo info;
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get(kT + "2.2", v, &info));
    EXPECT_EQ(info.syntax, snmp::kTagOctetString);  // the column's syntax and access apply
    EXPECT_EQ(info.access, Access::ReadWrite);
    EXPECT_EQ(octets(v), "row");
    EXPECT_EQ(info.ordinal, 2u + 1u);  // after the two static attributes
    EXPECT_EQ(f.getNumber(kT + "3.2"), 2u);
    EXPECT_EQ(f.store.staticCount(), 2u);
    EXPECT_EQ(f.next(kT + "2"), kT + "2.1");
    EXPECT_EQ(f.next(kT + "2.1.5"), kT + "2.2");
    EXPECT_EQ(f.next(kT + "2.9"), kT + "3.1");
    EXPECT_EQ(f.next("1.3.6.1.4.1.99.1"), kT + "2.1");
    EXPECT_FALSE(f.get(kT + "2.3", v));
    EXPECT_FALSE(f.get(kT + "2", v));
}

TEST_F(Rows, SortsListedInstancesAndKeepsTheFirstOfRepeats) {
    ASSERT_TRUE(load(kStatusRows,
                     "1.3.6.1.4.1.99.1.1.3.9, Integer, RO, lastset(9)\r\n"
                     "1.3.6.1.4.1.99.1.1.3.2, Integer, RO, lastset(2)\r\n"
                     "1.3.6.1.4.1.99.1.1.3.9, Integer, RO, lastset(99)\r\n"));
    EXPECT_TRUE(f.has(kOutOfOrderMessage));
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.4.1.99.0.1", kT + "3.2", kT + "3.9",
                                                  "1.3.6.1.4.1.99.9.1"}));
    EXPECT_EQ(f.getNumber(kT + "3.9"), 9u);
}

TEST_F(Rows, ANewInstanceRowIsCreatedInEveryColumnAndWalkedInOrder) {
    ASSERT_TRUE(load(kNewRows));
    EXPECT_EQ(f.set({binding(kN + "2.7", octetValue("seven"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.4.1.99.0.1", kN + "1.7", kN + "2.7",
                                                  kN + "3.7", kN + "4.7", "1.3.6.1.4.1.99.9.1"}));
    EXPECT_EQ(f.getNumber(kN + "1.7"), 7u);  // the index column serves its index
    EXPECT_EQ(f.getText(kN + "2.7"), "seven");
    EXPECT_EQ(f.getText(kN + "4.7"), "note");
    // Once present, the row's columns take Sets like any attribute.
    EXPECT_EQ(f.set({binding(kN + "4.7", octetValue("changed"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getText(kN + "4.7"), "changed");
}

TEST_F(Rows, ANewInstanceRowNeedsEveryRequiredColumnInTheRequest) {
    ASSERT_TRUE(load(kNewRows));
    EXPECT_EQ(f.set({binding(kN + "4.8", octetValue("x"))}), std::make_pair(6, 1));
    EXPECT_EQ(f.set({binding(kN + "4.8", octetValue("x")), binding(kN + "2.8", octetValue("y"))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getText(kN + "4.8"), "x");
    EXPECT_EQ(f.getText(kN + "2.8"), "y");
    // The row's dfixed index column was writable only while the row was made.
    EXPECT_EQ(f.set({binding(kN + "1.8", number(snmp::kTagInteger, 3))}),
              std::make_pair(snmp::kNotWritable, 1));
}

TEST_F(Rows, CreateAndWaitThenTheLastRequiredColumnThenActive) {
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.5"), static_cast<uint32_t>(kRowNotReady));
    // Required columns await their values and stay invisible.
    snmp::SyntaxValue v;
    EXPECT_FALSE(f.get(kT + "2.5", v));
    EXPECT_EQ(f.walk(),
              (std::vector<std::string>{"1.3.6.1.4.1.99.0.1", kT + "4.5", "1.3.6.1.4.1.99.9.1"}));
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowActive))}),
              std::make_pair(snmp::kInconsistentValue, 1));
    EXPECT_EQ(f.set({binding(kT + "2.5", octetValue("five"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.5"), static_cast<uint32_t>(kRowNotReady));
    EXPECT_EQ(f.set({binding(kT + "3.5", integer(55))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.5"), static_cast<uint32_t>(kRowNotInService));
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowActive))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.5"), static_cast<uint32_t>(kRowActive));
    EXPECT_EQ(f.getText(kT + "2.5"), "five");
    EXPECT_EQ(f.getNumber(kT + "3.5"), 55u);
    // An existing row cannot be created again.
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowCreateAndGo))}),
              std::make_pair(snmp::kInconsistentValue, 1));
}

TEST_F(Rows, ActivatingANotReadyRowCountsTheRequestsOwnBindings) {
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    ASSERT_EQ(f.set({binding(kT + "4.5", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowActive)), binding(kT + "2.5", octetValue("a")),
                     binding(kT + "3.5", integer(1))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.5"), static_cast<uint32_t>(kRowActive));
}

TEST_F(Rows, CreateAndGoNeedsTheRequiredColumnsInTheSameRequest) {
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    EXPECT_EQ(f.set({binding(kT + "4.6", integer(kRowCreateAndGo))}),
              std::make_pair(snmp::kInconsistentValue, 1));
    EXPECT_EQ(f.walk().size(), 2u);
    EXPECT_EQ(f.set({binding(kT + "4.6", integer(kRowCreateAndGo)),
                     binding(kT + "2.6", octetValue("six")), binding(kT + "3.6", integer(6))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getNumber(kT + "4.6"), static_cast<uint32_t>(kRowActive));
    EXPECT_EQ(f.getText(kT + "2.6"), "six");
}

TEST_F(Rows, RefusesRowStatusValuesThatAreNoRequests) {
    ASSERT_TRUE(load(kStatusRows));
    for (int32_t v : {0, kRowNotReady, 7, -1}) {
        EXPECT_EQ(f.set({binding(kT + "4.6", number(snmp::kTagInteger, static_cast<uint32_t>(v)))}),
                  std::make_pair(snmp::kWrongValue, 1))
            << v;
    }
    for (int32_t v : {kRowActive, kRowNotInService, kRowDestroy}) {
        EXPECT_EQ(f.set({binding(kT + "4.6", number(snmp::kTagInteger, static_cast<uint32_t>(v)))}),
                  std::make_pair(snmp::kInconsistentValue, 1))
            << v;
    }
}

TEST_F(Rows, DestroyRemovesTheRowAndItsOrdinalsServeTheNextOne) {
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    const auto rowOrdinals = [this](uint32_t index) {
        std::set<uint32_t> ordinals;
        for (uint32_t c = 0; c < f.store.rows().columnCount(); ++c) {
            const auto& instances = f.store.rows().instances(c);
            const auto it = instances.find(std::vector<uint32_t>{index});
            if (it != instances.end()) {
                ordinals.insert(it->second.ordinal);
            }
        }
        return ordinals;
    };
    ASSERT_EQ(f.set({binding(kT + "4.5", integer(kRowCreateAndGo)),
                     binding(kT + "2.5", octetValue("a")), binding(kT + "3.5", integer(1))}),
              std::make_pair(0, 0));
    const std::set<uint32_t> freed = rowOrdinals(5);
    ASSERT_EQ(freed.size(), 4u);
    const uint32_t fresh = f.store.slots().nextFresh();
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowDestroy))}), std::make_pair(0, 0));
    EXPECT_TRUE(rowOrdinals(5).empty());
    EXPECT_EQ(f.walk().size(), 2u);
    EXPECT_EQ(f.store.slots().freeCount(), 4u);
    ASSERT_EQ(f.set({binding(kT + "4.8", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(rowOrdinals(8), freed);
    EXPECT_EQ(f.store.slots().nextFresh(), fresh);
    EXPECT_EQ(f.getNumber(kT + "4.8"), static_cast<uint32_t>(kRowNotReady));
    EXPECT_EQ(f.getNumber(kT + "1.8"), 8u);  // the reused slots start afresh
}

TEST_F(Rows, ASetActionDeletesTheRowInTheSameRequest) {
    ASSERT_TRUE(load(std::string(kStatusRows) + "%setaction tStatus Integer 2 deleterow()\r\n"));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    ASSERT_EQ(f.set({binding(kT + "4.5", integer(kRowCreateAndGo)),
                     binding(kT + "2.5", octetValue("a")), binding(kT + "3.5", integer(1))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowActive))}), std::make_pair(0, 0));
    EXPECT_EQ(f.walk().size(), 5u);
    EXPECT_EQ(f.set({binding(kT + "4.5", integer(kRowNotInService))}), std::make_pair(0, 0));
    EXPECT_EQ(f.walk().size(), 2u);
}

TEST_F(Rows, ASetActionComparesValuesByTypeAndContent) {
    ASSERT_TRUE(
        load(std::string(kNewRows) + "%setaction nDescr OctetString gone  deleterow()  \r\n"));
    ASSERT_EQ(f.set({binding(kN + "2.3", octetValue("here"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.set({binding(kN + "2.3", octetValue("gonee"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.walk().size(), 6u);
    EXPECT_EQ(f.set({binding(kN + "2.3", octetValue("gone"))}), std::make_pair(0, 0));
    EXPECT_EQ(f.walk().size(), 2u);
}

TEST_F(Rows, RefusesRowsWhenFewerThanTwentyFreshOrdinalsRemain) {
    f.ini("DYNINSTSIZE=28\r\n");
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    EXPECT_EQ(f.set({binding(kT + "4.1", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(f.set({binding(kT + "4.2", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(f.store.slots().freshRemaining(), 20u);
    EXPECT_EQ(f.set({binding(kT + "4.3", integer(kRowCreateAndWait))}), std::make_pair(0, 0));
    EXPECT_EQ(f.set({binding(kT + "4.4", integer(kRowCreateAndWait))}), std::make_pair(13, 1));
}

TEST_F(Rows, ARefusedCreationLeavesNothingAndDestroyedRowsMakeRoomAgain) {
    f.ini("DYNINSTSIZE=28\r\n");  // two rows of four columns, then twenty to spare
    ASSERT_TRUE(load(kStatusRows));
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    const auto createAndGo = [&](const std::string& row) {
        return f.set({binding(kT + "4." + row, integer(kRowCreateAndGo)),
                      binding(kT + "2." + row, octetValue("a")),
                      binding(kT + "3." + row, integer(1))});
    };
    ASSERT_EQ(createAndGo("1"), std::make_pair(0, 0));
    ASSERT_EQ(createAndGo("2"), std::make_pair(0, 0));
    const auto rows = f.walk();
    const uint32_t fresh = f.store.slots().freshRemaining();
    // Six rows in one request take more than the twenty left: none is made.
    std::vector<snmp::VarBind> six;
    for (int row = 3; row <= 8; ++row) {
        six.push_back(binding(kT + "4." + std::to_string(row), integer(kRowCreateAndWait)));
    }
    EXPECT_EQ(f.set(six), std::make_pair(13, 6));
    EXPECT_EQ(f.walk(), rows);
    EXPECT_EQ(createAndGo("3"), std::make_pair(0, 0));
    // Sixteen left: refused before anything is set, and nothing of the row stays.
    EXPECT_EQ(createAndGo("4"), std::make_pair(13, 1));
    EXPECT_EQ(f.walk().size(), rows.size() + 3u);  // tIndex is not accessible
    EXPECT_EQ(f.store.slots().freshRemaining(), fresh - 4u);
    for (const char* row : {"1", "2", "3"}) {
        ASSERT_EQ(f.set({binding(kT + "4." + row, integer(kRowDestroy))}), std::make_pair(0, 0));
    }
    EXPECT_EQ(f.walk().size(), rows.size() - 6u);
    for (const char* row : {"4", "5", "6"}) {
        EXPECT_EQ(createAndGo(row), std::make_pair(0, 0)) << row;
    }
    EXPECT_EQ(createAndGo("7"), std::make_pair(13, 1));
}

TEST_F(Rows, ALargeReserveHoldsTenThousandCreatedRows) {
    f.ini("DYNINSTSIZE=40019\r\n");  // 10,000 rows of four columns, then fewer than twenty
    ASSERT_TRUE(load(kStatusRows));
    const std::size_t listed = f.walk().size();
    const auto integer = [](uint32_t n) { return number(snmp::kTagInteger, n); };
    for (int row = 1; row <= 10000; ++row) {
        const std::string index = std::to_string(row);
        ASSERT_EQ(f.set({binding(kT + "4." + index, integer(kRowCreateAndGo)),
                         binding(kT + "2." + index, octetValue("a")),
                         binding(kT + "3." + index, integer(row))}),
                  std::make_pair(0, 0))
            << row;
    }
    EXPECT_EQ(f.set({binding(kT + "4.10001", integer(kRowCreateAndWait))}), std::make_pair(13, 1));
    EXPECT_EQ(f.walk().size(), listed + 30000u);
    EXPECT_EQ(f.getNumber(kT + "3.10000"), 10000u);
}

TEST_F(Rows, AVariableLengthOctetIndexServesItsOctets) {
    ASSERT_TRUE(
        load("%drow sEntry newinstance\r\n"
             "%dcol sName  NotReq OctetString RO dfixed()\r\n"
             "%dcol sValue Req    Integer     RW lastset(0)\r\n"));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.3.1.2.3.97.98.99", number(2, 1))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getText("1.3.6.1.4.1.99.3.1.1.3.97.98.99"), "abc");
    for (const char* bad : {"1.3.6.1.4.1.99.3.1.2.3.97.98", "1.3.6.1.4.1.99.3.1.2.2.97.300",
                            "1.3.6.1.4.1.99.3.1.2.2.97.98.99", "1.3.6.1.4.1.99.3.1.2"}) {
        EXPECT_EQ(f.set({binding(bad, number(2, 1))}), std::make_pair(6, 1)) << bad;
    }
}

TEST_F(Rows, AddressAndIntegerIndexesFillTheirColumns) {
    ASSERT_TRUE(
        load("%drow aEntry newinstance\r\n"
             "%dcol aAddr NotReq IpAddress RO dfixed(0.0.0.0)\r\n"
             "%dcol aPort NotReq Integer   RO dfixed(0)\r\n"
             "%dcol aVal  Req    Integer   RW lastset(0)\r\n"));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.4.1.3.10.0.0.1.161", number(2, 1))}),
              std::make_pair(0, 0));
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.4.1.99.4.1.1.10.0.0.1.161", v));
    EXPECT_EQ(v.octets.bytes, (std::vector<uint8_t>{10, 0, 0, 1}));
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.4.1.2.10.0.0.1.161"), 161u);
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.4.1.3.10.0.0.256.161", number(2, 1))}),
              std::make_pair(6, 1));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.4.1.3.10.0.0.1", number(2, 1))}),
              std::make_pair(6, 1));
}

TEST_F(Rows, ImpliedAndFixedSizeOctetIndexes) {
    ASSERT_TRUE(
        load("%drow iEntry newinstance\r\n"
             "%dcol iName NotReq OctetString RO dfixed()\r\n"
             "%dcol iVal  Req    Integer     RW lastset(0)\r\n"
             "%drow mEntry newinstance\r\n"
             "%dcol mAddr NotReq OctetString RO dfixed()\r\n"
             "%dcol mVal  Req    Integer     RW lastset(0)\r\n"));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.5.1.2.97.98", number(2, 1))}), std::make_pair(0, 0));
    EXPECT_EQ(f.getText("1.3.6.1.4.1.99.5.1.1.97.98"), "ab");
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.6.1.2.0.1.2.3.4.5", number(2, 1))}),
              std::make_pair(0, 0));
    EXPECT_EQ(f.getText("1.3.6.1.4.1.99.6.1.1.0.1.2.3.4.5"), std::string("\0\1\2\3\4\5", 6));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.6.1.2.0.1.2.3.4", number(2, 1))}),
              std::make_pair(6, 1));
}

TEST_F(Rows, ObjectIdAndNetworkAddressIndexes) {
    ASSERT_TRUE(
        load("%drow oEntry newinstance\r\n"
             "%dcol oName NotReq ObjectID       RO dfixed(0.0)\r\n"
             "%dcol oVal  Req    Integer        RW lastset(0)\r\n"
             "%drow wEntry newinstance\r\n"
             "%dcol wAddr NotReq NetworkAddress RO dfixed(0.0.0.0)\r\n"
             "%dcol wVal  Req    Integer        RW lastset(0)\r\n"));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.10.1.2.3.1.3.6", number(2, 1))}),
              std::make_pair(0, 0));
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get("1.3.6.1.4.1.99.10.1.1.3.1.3.6", v));
    EXPECT_EQ(v.syntax, snmp::kTagObjectId);
    EXPECT_EQ(v.oid.ids, (std::vector<uint32_t>{1, 3, 6}));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.11.1.2.1.192.0.2.9", number(2, 1))}),
              std::make_pair(0, 0));
    ASSERT_TRUE(f.get("1.3.6.1.4.1.99.11.1.1.1.192.0.2.9", v));
    EXPECT_EQ(v.syntax, snmp::kTagIpAddress);
    EXPECT_EQ(v.octets.bytes, (std::vector<uint8_t>{192, 0, 2, 9}));
    EXPECT_EQ(f.set({binding("1.3.6.1.4.1.99.11.1.2.192.0.2.9", number(2, 1))}),
              std::make_pair(6, 1));
}

TEST_F(Rows, ARowGroupWithoutAKindCreatesNothing) {
    ASSERT_TRUE(
        load("%drow nEntry static\r\n"
             "%dcol nDescr NotReq OctetString RW lastset(x)\r\n"));
    EXPECT_EQ(f.set({binding(kN + "2.1", octetValue("a"))}), std::make_pair(6, 1));
}

TEST_F(Rows, GetNextSkipsColumnsThatAreNotReadable) {
    ASSERT_TRUE(load(kStatusRows, "1.3.6.1.4.1.99.1.1.1.1, Integer, RO, fixed(1)\r\n"));
    EXPECT_EQ(f.walk(), (std::vector<std::string>{"1.3.6.1.4.1.99.0.1", "1.3.6.1.4.1.99.9.1"}));
    AttributeInfo info;
    snmp::SyntaxValue v;
    ASSERT_TRUE(f.get(kT + "1.1", v, &info));
    EXPECT_EQ(info.access, Access::None);
}

TEST_F(Rows, RefusesAColumnBeforeAnyRow) {
    EXPECT_FALSE(load("%dcol tName Req OctetString RC lastset(x)\r\n%drow tEntry rowstatus\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{
                  "Invalid directive.(line = 1). A %dcol line must follow a %drow line"}));
}

TEST_F(Rows, RefusesDirectivesThatLackWords) {
    EXPECT_FALSE(load("# rows\r\n%drow tEntry\r\n%dcol tName Req OctetString RC lastset(x)\r\n"));
    EXPECT_EQ(
        f.status,
        (std::vector<std::string>{"Invalid directive.(line = 2). The directive lacks words"}));
    EXPECT_FALSE(load("%drow tEntry rowstatus\r\n%dcol tName Req OctetString\r\n"));
    EXPECT_TRUE(f.has("Invalid directive.(line = 2). The directive lacks words"));
    EXPECT_FALSE(load("%setaction tName OctetString\r\n"));
}

TEST_F(Rows, ReportsEveryDirectiveMistakeWithItsLine) {
    EXPECT_FALSE(
        load("%dcol tName Req OctetString RC lastset(x)\r\n"
             "%drow nEntry newinstance\r\n"
             "%dcol nowhere Req Integer RW lastset(1)\r\n"
             "%dcol nCount NotReq Counter RO clok(0)\r\n"
             "%dcol 1.3.6.1.4.1.99.2.1.3.7 NotReq Integer RW lastset(1)\r\n"
             "%dcol nIndex NotReq Integer RW dfixed(one)\r\n"
             "%setaction nDescr Text x deleterow()\r\n",
             "1.3.6.1.4.1.99.2.1.3.1, Counter, RO, fixed(-5)\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{
                  "Invalid directive.(line = 1). A %dcol line must follow a %drow line",
                  "Cannot map object descriptor nowhere.(line = 3)",
                  "Make sure that the corresponding MIB is compiled.",
                  "Unknown value behaviour.(line = 4). clok(0) names no value behaviour: the "
                  "value is served as NULL",
                  "Invalid directive.(line = 5). Column 1.3.6.1.4.1.99.2.1.3.7 lies within or "
                  "contains another %dcol column",
                  "Invalid value.(line = 6). dfixed(one) is not a number of syntax Integer: 0 "
                  "is served",
                  "Unknown syntax.(line = 7). Text is not a syntax word: the value is served as "
                  "NULL",
                  // An instance line is read with its column's syntax.
                  "Invalid value.(line = 10). fixed(-5) is outside the range of Counter (0 to "
                  "4294967295): 4294967291 is served",
              }));
}

TEST_F(Rows, ShowsAMessageWhenATableHasNoIndexInformation) {
    f.mibInfo(std::string(kMibInfo) + "1.3.6.1.4.1.99.7.1.1      xCol   Integer  RW C\r\n");
    EXPECT_FALSE(load("%drow xEntry rowstatus\r\n%dcol xCol Req Integer RW lastset(1)\r\n"));
    EXPECT_EQ(f.boxes,
              (std::vector<std::string>{"Korvimo: Cannot get index information for xCol\n"}));
}

TEST_F(Rows, RefusesColumnsThatCannotBeMappedOrOverlap) {
    EXPECT_FALSE(load("%drow xEntry rowstatus\r\n%dcol nowhere Req Integer RW lastset(1)\r\n"));
    EXPECT_EQ(f.status,
              (std::vector<std::string>{"Cannot map object descriptor nowhere.(line = 2)",
                                        "Make sure that the corresponding MIB is compiled."}));
    EXPECT_FALSE(
        load("%drow tEntry rowstatus\r\n"
             "%dcol tName Req OctetString RC lastset(x)\r\n"
             "%dcol 1.3.6.1.4.1.99.1.1.2 Req OctetString RC lastset(x)\r\n"));
    EXPECT_TRUE(
        f.has("Invalid directive.(line = 3). Column 1.3.6.1.4.1.99.1.1.2 lies within or "
              "contains another %dcol column"));
    EXPECT_FALSE(load("%drow tEntry rowstatus\r\n%dcol tName Req OctetString RC clock(1)\r\n"));
    EXPECT_TRUE(
        f.has("Invalid value behaviour.(line = 2). clock(1) cannot serve syntax OctetString"));
}

TEST_F(Rows, ReleaseFreesEveryRow) {
    ASSERT_TRUE(load(kNewRows, "1.3.6.1.4.1.99.2.1.2.1, OctetString, RW, lastset(one)\r\n"));
    ASSERT_EQ(f.set({binding(kN + "2.7", octetValue("seven"))}), std::make_pair(0, 0));
    f.store.releaseStore();
    EXPECT_EQ(f.store.rows().columnCount(), 0u);
    EXPECT_EQ(f.next("0"), "");
}

// Stores attached to one load: the loaded part is shared, the values and rows are each store's.

constexpr const char* kDeviceLines =
    "1.3.6.1.4.1.99.2.1.2.1, OctetString, RW, lastset(one)\r\n"
    "1.3.6.1.4.1.99.9.2, OctetString, RW, lastset(start)\r\n"
    "1.3.6.1.4.1.99.9.3, TimeTicks, RO, clock(0)\r\n"
    "1.3.6.1.4.1.99.9.4, Counter, RO, randomup(0, 100)\r\n";

TEST_F(Rows, AttachedStoresKeepTheirOwnValues) {
    f.ini("RANDOMSEED=fixed\r\n");
    ASSERT_TRUE(f.loadShared(std::string(kNewRows) + kNeighbours + kDeviceLines));
    f.clock.advanceMs(5000);
    VariableStore other;
    ASSERT_TRUE(other.attach(f.shared, &f.clock, f.clock.monotonicMs()));
    EXPECT_EQ(other.staticCount(), f.store.staticCount());

    const uint32_t first = f.getNumber("1.3.6.1.4.1.99.9.4");
    const uint32_t second = f.getNumber("1.3.6.1.4.1.99.9.4");
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.9.3"), 500u);  // five seconds since its start
    ASSERT_EQ(f.set({binding("1.3.6.1.4.1.99.9.2", octetValue("changed")),
                     binding(kN + "2.1", octetValue("uno"))}),
              std::make_pair(0, 0));

    f.serving = &other;
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.0.1"), 1u);
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.9.3"), 0u);  // started just now
    // Its own generator, seeded alike: the same walk, not the other store's next step.
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.9.4"), first);
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.9.4"), second);
    EXPECT_EQ(f.getText("1.3.6.1.4.1.99.9.2"), "start");
    EXPECT_EQ(f.getText(kN + "2.1"), "one");
    ASSERT_EQ(f.set({binding(kN + "2.1", octetValue("eins"))}), std::make_pair(0, 0));

    f.serving = &f.store;
    EXPECT_EQ(f.getText("1.3.6.1.4.1.99.9.2"), "changed");
    EXPECT_EQ(f.getText(kN + "2.1"), "uno");
}

TEST_F(Rows, RowsMadeOnOneAttachedStoreStayItsOwn) {
    ASSERT_TRUE(f.loadShared(std::string(kNewRows) + kNeighbours + kDeviceLines));
    VariableStore other;
    ASSERT_TRUE(other.attach(f.shared, &f.clock, f.clock.monotonicMs()));
    f.shared.reset();
    ASSERT_EQ(f.set({binding(kN + "2.7", octetValue("seven"))}), std::make_pair(0, 0));
    const std::vector<std::string> walked = f.walk();

    f.serving = &other;
    EXPECT_EQ(f.getText(kN + "2.7"), "<absent>");
    ASSERT_EQ(f.set({binding(kN + "2.8", octetValue("eight"))}), std::make_pair(0, 0));
    const std::vector<std::string> otherWalked = f.walk();
    EXPECT_EQ(walked.size(), otherWalked.size());
    EXPECT_EQ(std::count(otherWalked.begin(), otherWalked.end(), kN + "2.8"), 1);
    EXPECT_EQ(std::count(otherWalked.begin(), otherWalked.end(), kN + "2.7"), 0);

    // The load outlives the store that made it: its attribute file stays open for the other.
    f.store.releaseStore();
    EXPECT_GE(other.attributeFile().descriptor(), 0);
    EXPECT_EQ(f.getText(kN + "2.8"), "eight");
    EXPECT_EQ(f.getNumber("1.3.6.1.4.1.99.9.1"), 9u);
    EXPECT_FALSE(f.store.attach(nullptr, &f.clock, 0));
    // A store that loaded the file alone took its initial state: nothing attaches to it.
    ASSERT_TRUE(load(kNewRows, kDeviceLines));
    EXPECT_FALSE(other.attach(f.store.loadedFile(), &f.clock, 0));
}

}  // namespace
}  // namespace korvimo::store

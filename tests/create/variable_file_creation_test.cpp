// Variable files written from mibinfo.out texts: the header, scalar lines, the rows and
// instances of tables by index type, the dynamic row templates, and the lines written as
// comments because the agent would refuse them.
#include "create/variable_file_creation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace korvimo::create {
namespace {

// An object line as zorlet writes it.
std::string object(const char* id, const char* descriptor, const char* type, const char* rest) {
    char line[256];
    std::snprintf(line, sizeof line, "%-25s %-23s %-12s %s\r\n", id, descriptor, type, rest);
    return line;
}

struct Created {
    std::string file;
    std::vector<std::string> status;
};

Created create(const std::string& mibinfo, long rows, bool templates = false,
           const std::vector<std::string>* mibs = nullptr) {
    Created run;
    VariableFileCreation creation(
        mibinfo::MibInfo::fromText(mibinfo), {rows, templates},
        {[&](std::string_view line) { run.status.emplace_back(line); }, nullptr});
    creation.writeHeader(mibs, run.file);
    for (int steps = 0; steps < 10000 && creation.step(run.file); ++steps) {
    }
    return run;
}

bool has(const Created& run, const std::string& text) {
    return run.file.find(text) != std::string::npos;
}

TEST(VariableFile, HeaderWithAndWithoutTheMibList) {
    const std::string sysFoo = object("1.3.6.1.4.1.9.1", "sysFoo", "Counter", "RO S");
    EXPECT_EQ(create(sysFoo, 2).file,
              std::string(kRuleLine) +
                  "sysFoo.0                      , Counter     , RO , randomup(1000, 100)\r\n");
    const std::vector<std::string> mibs{"IF-MIB", "MY-MIB"};
    EXPECT_EQ(create("", 3, false, &mibs).file,
              std::string(kRuleLine) +
                  "# List of MIBs used to create the variables:\r\n"
                  "#                     IF-MIB\r\n"
                  "#                     MY-MIB\r\n"
                  "# Number of Rows:     3\r\n" +
                  valueFormatsBlock() + kRuleLine);
}

TEST(VariableFile, ScalarBehavioursByAccessRangeAndMarker) {
    const Created run = create(object("1.3.6.1.2.1.1.5", "sysName", "OctetString", "RW S (0,10) d") +
                               object("1.3.6.1.4.1.9.2", "fooLevel", "Integer", "RW S (1,10)"),
                           1);
    EXPECT_TRUE(has(run, "sysName.0                     , OctetString , RW , "
                         "r_lastset(0, 10, My_sysNam)\r\n"));
    EXPECT_TRUE(has(run, "fooLevel.0                    , Integer     , RW , r_lastset(1, 10, 1)\r\n"));
}

const std::string kIfTable =
    "%ei   1.3.6.1.2.1.2.2.1 [ifIndex]\r\n" +
    object("1.3.6.1.2.1.2.2.1.1", "ifIndex", "Integer", "RO C1 (1,2147483647)") +
    object("1.3.6.1.2.1.2.2.1.2", "ifDescr", "OctetString", "RO C (0,255) d") +
    object("1.3.6.1.2.1.2.2.1.7", "ifAdminStatus", "Integer", "RW C (1,3) e");

TEST(VariableFile, IntegerIndexRowsCountUpAndTheIndexColumnFollows) {
    const Created run = create(kIfTable, 3);
    EXPECT_TRUE(has(run, "# columnar variable ifIndex. Index = ifIndex\r\n"
                         "# sub ids in the instance are = n\r\n"
                         "ifIndex.1                     , Integer     , RO , fixed(1)\r\n"
                         "ifIndex.2                     , Integer     , RO , fixed(2)\r\n"
                         "ifIndex.3                     , Integer     , RO , fixed(3)\r\n"));
    EXPECT_TRUE(has(run, "ifDescr.3                     , OctetString , RO , fixed(My_ifDescr_string)\r\n"));
    EXPECT_TRUE(has(run, "ifAdminStatus.2               , Integer     , RW , r_lastset(1, 3, 1)\r\n"));
    EXPECT_TRUE(run.status.empty());
}

TEST(VariableFile, RowCountBelowOneWritesTheCommentsOnly) {
    EXPECT_EQ(rowCount("0"), 0);
    EXPECT_EQ(rowCount("abc"), 0);
    EXPECT_EQ(rowCount("12x"), 12);
    EXPECT_EQ(rowCount("1234567890"), 123456789);
    const Created run = create(kIfTable, rowCount("abc"));
    EXPECT_FALSE(has(run, "ifIndex.1"));
    EXPECT_TRUE(has(run, "# columnar variable ifAdminStatus. Index = ifIndex\r\n"
                         "# sub ids in the instance are = n\r\n"));
}

TEST(VariableFile, ManyRowsAreWrittenAFewThousandAStep) {
    VariableFileCreation creation(mibinfo::MibInfo::fromText(kIfTable), {999999999, false}, {});
    std::string out;
    for (int steps = 0; steps < 3; ++steps) {
        out.clear();
        ASSERT_TRUE(creation.step(out));
        const auto lines = static_cast<long>(std::count(out.begin(), out.end(), '\n'));
        EXPECT_LE(lines, kRowsPerStep + 2);
    }
    EXPECT_TRUE(out.starts_with("ifIndex.2001                  , Integer     , RO , fixed(2001)\r\n"));
}

TEST(VariableFile, IntegerAndIpAddressIndex) {
    const std::string table = "%ei   1.3.6.1.4.1.9.5.1 [fooIf fooAddr]\r\n" +
                              object("1.3.6.1.4.1.9.5.1.1", "fooIf", "Integer", "RO C1") +
                              object("1.3.6.1.4.1.9.5.1.2", "fooAddr", "IpAddress", "RO C") +
                              object("1.3.6.1.4.1.9.5.1.3", "fooUp", "TimeTicks", "RO C");
    const Created run = create(table, 3);
    EXPECT_TRUE(has(run, "# sub ids in the instance are = n.ip1.ip2.ip3.ip4\r\n"
                         "fooIf.1.1.2.3.4               , Integer     , RO , fixed(1)\r\n"
                         "fooIf.1.1.2.3.5               , Integer     , RO , fixed(1)\r\n"
                         "fooIf.1.1.2.3.6               , Integer     , RO , fixed(1)\r\n"));
    EXPECT_TRUE(has(run, "fooAddr.1.1.2.3.4             , IpAddress   , RO , fixed(1.2.3.4)\r\n"
                         "fooAddr.1.1.2.3.5             , IpAddress   , RO , fixed(1.2.3.5)\r\n"
                         "fooAddr.1.1.2.3.6             , IpAddress   , RO , fixed(1.2.3.6)\r\n"));
    EXPECT_TRUE(has(run, "fooUp.1.1.2.3.6               , TimeTicks   , RO , clock(0)\r\n"));

    // Rows past the last address octet are no instances: every column's are comments.
    const Created many = create(table, 253);
    EXPECT_TRUE(has(many, "\r\nfooAddr.1.1.2.3.255           , IpAddress   , RO , fixed(1.2.3.255)\r\n"
                          "# fooAddr.1.1.2.3.256           , IpAddress   , RO , fixed(1.2.3.256)\r\n"));
    EXPECT_TRUE(has(many, "\r\nfooIf.1.1.2.3.255             , Integer     , RO , fixed(1)\r\n"
                          "# fooIf.1.1.2.3.256             , Integer     , RO , fixed(1)\r\n"));
    EXPECT_TRUE(has(many, "\r\n# fooUp.1.1.2.3.256             , TimeTicks   , RO , clock(0)\r\n"));
    EXPECT_EQ(many.status, std::vector<std::string>{"The rows of 1.3.6.1.4.1.9.5.1 after row 252 "
                                                    "are written as comments: their last index "
                                                    "octet would pass 255."});

    // A string index: the arc past 255 is shown as it stands, not as a digit pair.
    const Created strings = create("%ei   1.3.6.1.4.1.9.6.1 [fooName]\r\n" +
                                       object("1.3.6.1.4.1.9.6.1.1", "fooName", "OctetString", "RO C1"),
                                   158);
    EXPECT_TRUE(has(strings, "\r\nfooName.3.97.98.255           , OctetString , RO , fixed(0x6162ff)\r\n"
                             "# fooName.3.97.98.256           , OctetString , RO , fixed(97.98.256)\r\n"));
}

TEST(VariableFile, StringIndexesByKind) {
    const Created run = create(
        "%ei   1.3.6.1.4.1.9.6.1 [fooName]\r\n" +
            object("1.3.6.1.4.1.9.6.1.1", "fooName", "OctetString", "RO C1 (0,32) d") +
            "%ei   1.3.6.1.4.1.9.7.1 [fooMac *fooTag]\r\n" +
            object("1.3.6.1.4.1.9.7.1.1", "fooMac", "OctetString", "RO C1 (6,6)") +
            object("1.3.6.1.4.1.9.7.1.2", "fooTag", "OctetString", "RO C"),
        2);
    EXPECT_TRUE(has(run, "# sub ids in the instance are = len.os1.os2.osn\r\n"
                         "fooName.3.97.98.99            , OctetString , RO , fixed(0x616263)\r\n"
                         "fooName.3.97.98.100           , OctetString , RO , fixed(0x616264)\r\n"));
    EXPECT_TRUE(has(run, "# sub ids in the instance are = os1.os2.os3.os4.os5.os6.os1.os2.osn\r\n"
                         "fooMac.1.2.3.4.5.6.97.98.99   , OctetString , RO , fixed(1.2.3.4.5.6)\r\n"));
    EXPECT_TRUE(has(run, "fooTag.1.2.3.4.5.6.97.98.100  , OctetString , RO , fixed(0x616264)\r\n"));
}

TEST(VariableFile, HugeFixedSizeStringIndexWritesNoNames) {
    const Created run = create(
        "%ei   1.3.6.1.4.1.9.6.1 [fooKey]\r\n" +
            object("1.3.6.1.4.1.9.6.1.1", "fooKey", "OctetString", "RO C1 (2000000000,2000000000)") +
            object("1.3.6.1.4.1.9.6.2", "fooPad", "OctetString", "RO S (2000000000,2000000000)"),
        3);
    EXPECT_TRUE(has(run, "# columnar variable fooKey. Index = fooKey\r\n"
                         "# sub ids in the instance are = os1...os2000000000\r\n"
                         "# no rows: their names would have more than 128 sub-identifiers\r\n"
                         "fooPad.0 "));
    std::string pad = "fixed(0x";
    for (int i = 0; i < 198; ++i) {
        pad += "01";
    }
    EXPECT_TRUE(has(run, pad + ")\r\n"));
    EXPECT_LT(run.file.size(), 1024U);
    EXPECT_EQ(run.status, std::vector<std::string>{"fooKey has names of more than 128 "
                                                   "sub-identifiers: its lines are written as "
                                                   "comments."});
}

TEST(VariableFile, TemplatesForWritableTablesOnly) {
    const std::string text =
        kIfTable + object("1.3.6.1.2.1.3", "fooScalar", "Integer", "RO S") +
        "%ei   1.3.6.1.2.1.4.1 [roIndex]\r\n" +
        object("1.3.6.1.2.1.4.1.1", "roIndex", "Integer", "RO C1") +
        "%ei   1.3.6.1.2.1.5.1 [stIndex]\r\n" +
        object("1.3.6.1.2.1.5.1.1", "stIndex", "Integer", "NA C1") +
        object("1.3.6.1.2.1.5.1.2", "stName", "OctetString", "RC C (0,8) d") +
        object("1.3.6.1.2.1.5.1.3", "stStatus", "Integer", "RC C (1,6) r") +
        "%ei   1.3.6.1.2.1.6.1 [woIndex]\r\n" +
        object("1.3.6.1.2.1.6.1.1", "woIndex", "Integer", "RO C1") +
        object("1.3.6.1.2.1.6.1.2", "woKey", "OctetString", "WO C") +
        object("1.3.6.1.2.1.6.1.3", "woSalt", "OctetString", "WO C") +
        object("1.3.6.1.2.1.7.1.1", "lostIndex", "Integer", "RW C1");
    const Created run = create(text, 1, true);
    const std::string rows =
        std::string(kRuleLine) +
        "# template for dynamic row. To use, please remove the starting hash signs\r\n"
        "#%drow  1.3.6.1.2.1.2.2.1   newinstance\r\n"
        "#%dcol  ifIndex                   NotReq Integer      RO dfixed(1)\r\n"
        "#%dcol  ifDescr                   Req    OctetString  RO fixed(My_ifDescr_string)\r\n"
        "#%dcol  ifAdminStatus             Req    Integer      RW r_lastset(1, 3, 1)\r\n"
        "#%setaction ifAdminStatus         Integer      <specify value> deleterow()\r\n"
        "#\r\n#\r\n"
        "# template for dynamic row. To use, please remove the starting hash signs\r\n"
        "#%drow  1.3.6.1.2.1.5.1   rowstatus\r\n"
        "#%dcol  stIndex                   NotReq Integer      NA dfixed(1)\r\n"
        "#%dcol  stName                    Req    OctetString  RC r_lastset(0, 8, My_stNa)\r\n"
        "#%dcol  stStatus                  Req    Integer      RC rowstatus(1)\r\n"
        "#\r\n#\r\n"
        "# template for dynamic row. To use, please remove the starting hash signs\r\n"
        "#%drow  1.3.6.1.2.1.6.1   newinstance\r\n"
        "#%dcol  woIndex                   NotReq Integer      RO dfixed(1)\r\n"
        "#%dcol  woKey                     Req    OctetString  WO lastset(abc)\r\n"
        "#%dcol  woSalt                    Req    OctetString  WO lastset(abc)\r\n"
        "#%setaction woSalt                OctetString  <specify value> deleterow()\r\n"
        "#\r\n#\r\n"
        "# template for dynamic row. To use, please remove the starting hash signs\r\n"
        "#%drow  1.3.6.1.2.1.7.1   newinstance\r\n"
        "# no instance info available\r\n"
        "#%setaction " + std::string(21 + 1 + 12, ' ') + " <specify value> deleterow()\r\n" +
        "#\r\n#\r\n"
        "# columnar variable ifIndex. Index = ifIndex\r\n";
    EXPECT_EQ(run.file.substr(0, rows.size()), rows);
}

// Rows the agent would refuse or serve otherwise are comments, each object named once.
TEST(VariableFile, RefusedLinesAreWrittenAsComments) {
    const std::string text =
        object("1.3.6.1.4.1.9.8.1.1", "lostIndex", "Integer", "RO C1") +
        "%ei   1.3.6.1.4.1.9.9.1 [ghost]\r\n" +
        object("1.3.6.1.4.1.9.9.1.1", "haunted", "Integer", "RO C1") +
        object("1.3.6.1.4.1.9.9.1.2", "spooky", "Integer", "RO C") +
        "%ei   1.3.6.1.4.1.9.10.1 [oidKey oidNo]\r\n" +
        object("1.3.6.1.4.1.9.10.1.1", "oidKey", "ObjectID", "RO C1") +
        object("1.3.6.1.4.1.9.10.1.2", "oidNo", "Integer", "RO C") +
        object("1.3.6.1.4.1.9.10.1.3", "oidUp", "Counter", "RO C") +
        object("1.3.6.1.4.1.9.11", "weird%s,name", "Integer", "RO S");
    const Created run = create(text, 2);
    EXPECT_TRUE(has(run, "\r\n# weird%s,name.0                , Integer     , RO , fixed(1)\r\n"));
    EXPECT_TRUE(has(run, "# lostIndex.                    , Integer     , RO , fixed(1)\r\n"
                         "# lostIndex.                    , Integer     , RO , fixed(1)\r\n"));
    EXPECT_TRUE(has(run, "# haunted.                      , Integer     , RO , fixed(1)\r\n"));
    EXPECT_TRUE(has(run, "# oidKey.3.1.2.3.1              , ObjectID    , RO , fixed(3.1.2.3)\r\n"));
    EXPECT_TRUE(has(run, "\r\noidNo.3.1.2.3.2               , Integer     , RO , fixed(2)\r\n"));
    EXPECT_TRUE(has(run, "\r\noidUp.3.1.2.3.1               , Counter     , RO , randomup(1000, 100)\r\n"));
    EXPECT_EQ(run.status,
              (std::vector<std::string>{
                  "lostIndex has no instance (no index information for its table): its rows are "
                  "written as comments.",
                  "No object-type information available on ghost",
                  "haunted has no instance (no index information for its table): its rows are "
                  "written as comments.",
                  "spooky has no instance (no index information for its table): its rows are "
                  "written as comments.",
                  "oidKey.3.1.2.3.1 is written as a comment: 3.1.2.3 is no object identifier an "
                  "SNMP message can carry.",
                  "The object 1.3.6.1.4.1.9.11 has a descriptor the agent cannot read (a "
                  "character other than a letter, digit, \"_\" or \"-\"): its lines are "
                  "written as comments.",
              }));
}

}  // namespace
}  // namespace korvimo::create

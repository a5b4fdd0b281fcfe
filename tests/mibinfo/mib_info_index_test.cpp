#include <gtest/gtest.h>

#include <string>

#include "mibinfo/descriptor_mapper.h"
#include "mibinfo/mib_info.h"

namespace korvimo::mibinfo {
namespace {

constexpr const char* kMibInfo =
    "-- comment line\r\n"
    "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S (0,255) d\r\n"
    "%ev                 ifType           other 1\r\n"
    "1.3.6.1.2.1.2.2.1.1       ifIndex                 Integer      RO C1\r\n"
    "1.3.6.1.2.1.2.2.1.6       ifPhysAddress           OctetString  RO C (6,6)\n"
    "1.3.6.1.9.1               dup                     Integer      RO S\r\n"
    "1.3.6.1.9.2               dup                     Integer      RO S\r\n"
    "1.3.6.1.9.3               other                   Integer      RO S\r\n"
    "\r\n"
    "%en          1.3.6.1.2.1.1                            system\r\n"
    "%ei   1.3.6.1.2.1.2.2.1    \"ifIndex\"  \r\n";

TEST(MibInfoIndex, MapsDescriptorsAndKeepsTheInstanceSuffix) {
    const auto mib = MibInfo::fromText(kMibInfo);
    DescriptorMapper mapper(*mib);
    std::string numeric;
    ASSERT_TRUE(mapper.map("sysDescr.0", numeric));
    EXPECT_EQ(numeric, "1.3.6.1.2.1.1.1.0");
    ASSERT_TRUE(mapper.map("ifIndex", numeric));
    EXPECT_EQ(numeric, "1.3.6.1.2.1.2.2.1.1");
    ASSERT_TRUE(mapper.map("ifIndex.[1-3]", numeric));
    EXPECT_EQ(numeric, "1.3.6.1.2.1.2.2.1.1.[1-3]");
    ASSERT_TRUE(mapper.map("1.3.whatever", numeric));
    EXPECT_EQ(numeric, "1.3.whatever");
    EXPECT_FALSE(mapper.map("system", numeric));  // name lines are not searched
    EXPECT_FALSE(mapper.map("SysDescr", numeric));
    EXPECT_FALSE(mapper.map("", numeric));
}

TEST(MibInfoIndex, ARepeatedDescriptorResolvesFromThePreviousMatchOnWithWrapAround) {
    const auto mib = MibInfo::fromText(kMibInfo);
    DescriptorMapper mapper(*mib);
    std::string numeric;
    ASSERT_TRUE(mapper.map("dup", numeric));
    EXPECT_EQ(numeric, "1.3.6.1.9.1");
    ASSERT_TRUE(mapper.map("dup", numeric));  // starts at the line it matched
    EXPECT_EQ(numeric, "1.3.6.1.9.1");
    ASSERT_TRUE(mapper.map("other", numeric));
    ASSERT_TRUE(mapper.map("dup", numeric));  // wraps past the end to the first
    EXPECT_EQ(numeric, "1.3.6.1.9.1");
}

TEST(MibInfoIndex, FindsIndexClausesTypesRangesAndDescriptors) {
    const auto mib = MibInfo::fromText(kMibInfo);
    std::string_view clause;
    ASSERT_TRUE(mib->indexClause("1.3.6.1.2.1.2.2.1", clause));
    EXPECT_EQ(clause, "\"ifIndex\"");
    EXPECT_FALSE(mib->indexClause("1.3.6.1.2.1.2.2", clause));
    ObjectInfo info;
    ASSERT_TRUE(mib->objectInfo("ifPhysAddress", info));
    EXPECT_EQ(info.type, "OctetString");
    EXPECT_TRUE(info.hasRange);
    EXPECT_EQ(info.low, 6);
    EXPECT_EQ(info.high, 6);
    ASSERT_TRUE(mib->objectInfo("ifIndex", info));
    EXPECT_FALSE(info.hasRange);
    std::string_view descriptor;
    ASSERT_TRUE(mib->descriptorOf("1.3.6.1.2.1.1.1", descriptor));
    EXPECT_EQ(descriptor, "sysDescr");
}

TEST(MibInfoIndex, AClosedFileMapsOnlyNumericNames) {
    EXPECT_EQ(MibInfo::read(-1), nullptr);
    DescriptorMapper mapper(MibInfo::empty());  // what the store maps with then
    std::string numeric;
    EXPECT_FALSE(mapper.map("sysDescr.0", numeric));
    EXPECT_TRUE(mapper.map("1.3.6.1", numeric));
}

}  // namespace
}  // namespace korvimo::mibinfo

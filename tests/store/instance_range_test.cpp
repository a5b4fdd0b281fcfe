#include "store/instance_range.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvimo::store {
namespace {

std::vector<std::string> expand(const std::string& name) {
    InstanceRange range;
    const char* why = nullptr;
    EXPECT_TRUE(range.parse(name, why)) << name;
    std::vector<std::string> out;
    for (bool more = range.first(); more; more = range.next()) {
        std::string text;
        for (uint32_t id : range.current()) {
            text += (text.empty() ? "" : ".") + std::to_string(id);
        }
        out.push_back(text);
    }
    return out;
}

TEST(InstanceRange, ExpandsLikeAnOdometerLastComponentFastest) {
    EXPECT_EQ(expand("1.[1-2].[5-6]"),
              (std::vector<std::string>{"1.1.5", "1.1.6", "1.2.5", "1.2.6"}));
    EXPECT_EQ(expand("1.3.6.1.2.1.2.2.1.1.[1-3]"),
              (std::vector<std::string>{"1.3.6.1.2.1.2.2.1.1.1", "1.3.6.1.2.1.2.2.1.1.2",
                                        "1.3.6.1.2.1.2.2.1.1.3"}));
    EXPECT_EQ(expand("1.[7].2"), (std::vector<std::string>{"1.7.2"}));
    EXPECT_EQ(expand("1.2.3"), (std::vector<std::string>{"1.2.3"}));
}

TEST(InstanceRange, ARangeRunningBackwardsStandsForItsLowValue) {
    EXPECT_EQ(expand("1.[9-3]"), (std::vector<std::string>{"1.9"}));
}

TEST(InstanceRange, KnowsEachComponentForRangeinst) {
    InstanceRange range;
    const char* why = nullptr;
    ASSERT_TRUE(range.parse("1.3.[4-5].[8-9]", why));
    EXPECT_TRUE(range.hasRange());
    EXPECT_EQ(range.componentCount(), 4u);
    EXPECT_EQ(range.count(100), 4u);
    ASSERT_TRUE(range.first());
    ASSERT_TRUE(range.next());
    ASSERT_TRUE(range.next());
    EXPECT_EQ(range.component(3), 5u);
    EXPECT_EQ(range.component(4), 8u);
}

TEST(InstanceRange, CountsHugeRangesOnlyUpToALimit) {
    InstanceRange range;
    const char* why = nullptr;
    ASSERT_TRUE(range.parse("1.[0-4294967295].[0-4294967295]", why));
    EXPECT_EQ(range.count(1000), 1000u);
}

TEST(InstanceRange, TakesSixtyFourComponentsWithRangesButNotMore) {
    std::string name = "1";
    for (int i = 1; i < 64; ++i) {
        name += ".[2-3]";
    }
    InstanceRange range;
    const char* why = nullptr;
    ASSERT_TRUE(range.parse(name, why));
    EXPECT_EQ(range.componentCount(), 64u);
    ASSERT_TRUE(range.first());
    EXPECT_EQ(range.current().back(), 2u);
    ASSERT_TRUE(range.next());
    EXPECT_EQ(range.current().back(), 3u);
    EXPECT_FALSE(range.parse(name + ".[1]", why));
    EXPECT_STREQ(why, kNameTooLongText);
    // Without ranges the limit is that of a request's identifiers.
    std::string plain = "1";
    for (int i = 1; i < 128; ++i) {
        plain += ".1";
    }
    EXPECT_TRUE(range.parse(plain, why));
    EXPECT_FALSE(range.parse(plain + ".1", why));
}

TEST(InstanceRange, RefusesWhatIsNotDottedDecimal) {
    InstanceRange range;
    const char* why = nullptr;
    for (const char* bad : {"", "1..2", "1.2.", ".1", "1.a", "1.[2-", "1.[2-x]", "1.[-3]", "1.2 ",
                            "sysDescr.0", "1.[2]3"}) {
        EXPECT_FALSE(range.parse(bad, why)) << bad;
    }
    EXPECT_FALSE(range.parse("1.4294967296", why));
    EXPECT_STREQ(why, kNameNumberTooLargeText);
    EXPECT_TRUE(range.parse("1.4294967295", why));
}

}  // namespace
}  // namespace korvimo::store

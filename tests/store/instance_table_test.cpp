#include "store/instance_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace korvimo::store {
namespace {

using Suffix = std::vector<uint32_t>;

TEST(InstanceTable, OrdersSuffixesAsIdentifiers) {
    InstanceTable table;
    for (const Suffix& s : {Suffix{2}, Suffix{10}, Suffix{1, 5}, Suffix{1}, Suffix{4294967295u}}) {
        ASSERT_TRUE(table.emplace(suffixKey(s), DynamicInstance{}).second);
    }
    std::vector<Suffix> order;
    for (const auto& [key, instance] : table) {
        order.emplace_back(key.begin(), key.end());
    }
    EXPECT_EQ(order, (std::vector<Suffix>{{1}, {1, 5}, {2}, {10}, {4294967295u}}));
    EXPECT_EQ(table.upperBound(Suffix{1})->first, suffixKey(Suffix{1, 5}));
    EXPECT_EQ(table.upperBound(Suffix{3})->first, suffixKey(Suffix{10}));
    EXPECT_EQ(table.upperBound(Suffix{4294967295u}), table.end());
    EXPECT_FALSE(table.emplace(suffixKey(Suffix{2}), DynamicInstance{}).second);
}

TEST(InstanceTable, FindsLongSuffixesAsWellAsShortOnes) {
    InstanceTable table;
    const Suffix longer = {3, 97, 98, 99, 100, 101, 102};
    DynamicInstance instance;
    instance.ordinal = 42;
    table.emplace(suffixKey(longer), instance);
    ASSERT_NE(table.find(longer), table.end());
    EXPECT_EQ(table.find(longer)->second.ordinal, 42u);
    EXPECT_EQ(table.find(Suffix{3, 97, 98}), table.end());
}

// Random inserts and erases against a reference map: every probe sequence must survive the
// backward shifts of erasure.
TEST(InstanceTable, StaysConsistentThroughManyInsertsAndErases) {
    InstanceTable table;
    std::map<Suffix, uint32_t> reference;
    std::mt19937 random(7);
    for (uint32_t step = 0; step < 20000; ++step) {
        const Suffix s = {static_cast<uint32_t>(random() % 300),
                          static_cast<uint32_t>(random() % 3)};
        const auto it = table.find(s);
        ASSERT_EQ(it != table.end(), reference.count(s) == 1) << step;
        if (it == table.end()) {
            DynamicInstance instance;
            instance.ordinal = step;
            ASSERT_TRUE(table.emplace(suffixKey(s), instance).second);
            reference[s] = step;
        } else {
            EXPECT_EQ(it->second.ordinal, reference[s]);
            table.erase(it);
            reference.erase(s);
        }
    }
    ASSERT_EQ(table.size(), reference.size());
    for (const auto& [s, ordinal] : reference) {
        const auto it = table.find(s);
        ASSERT_NE(it, table.end());
        EXPECT_EQ(it->second.ordinal, ordinal);
    }
}

}  // namespace
}  // namespace korvimo::store

// The variable table of the engine.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "xscript/tables.h"

namespace {

TEST(XScriptTables, NameHashIsDjb2InWrappingUnsigned32BitArithmetic) {
    const struct {
        std::string name;
        uint32_t hash, bucket;
    } cases[] = {
        // clang-format off
        {"", 5381u, 1285u}, {"a", 177670u, 1542u}, {"x", 177693u, 1565u},
        {"abc", 193485963u, 1163u}, {"NPC_MessageMap", 13259880u, 1128u},
        {std::string(40, 'z'), 632842261u, 21u},  // wraps many times
        {"\xff\x80", 5868452u, 932u},             // bytes count as unsigned
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xscript::HashName(c.name), c.hash) << c.name;
        EXPECT_EQ(CXVariableTable::BucketOf(c.name), c.bucket) << c.name;
    }
}

TEST(XScriptTables, VariablesSharingABucketKeepCreationOrderAndSetOverwritesInPlace) {
    std::map<uint32_t, std::string> seen;  // among 2049 names two share one of 2048 buckets
    std::string first, second;
    for (int i = 0; second.empty(); ++i) {
        const std::string name = "v" + std::to_string(i);
        if (const auto [it, inserted] = seen.emplace(CXVariableTable::BucketOf(name), name);
            !inserted) {
            first = it->second;
            second = name;
        }
    }
    CXVariableTable table;
    table.Set(first, CXValue("one", 0));
    table.Set(second, CXValue("two", 1));
    table.Set(first, CXValue("later", 1));
    EXPECT_EQ(table.Count(), 2u);
    const auto& bucket = table.Bucket(CXVariableTable::BucketOf(first));
    ASSERT_EQ(bucket.size(), 2u);
    EXPECT_EQ(bucket[0].name + bucket[0].value.Text() + std::to_string(bucket[0].value.Flag()),
              first + "later1");
    EXPECT_EQ(bucket[1].name + bucket[1].value.Text(), second + "two");
    EXPECT_EQ(table.Find(second), &bucket[1]);
    EXPECT_EQ(table.Find("v_absent"), nullptr);
    EXPECT_EQ(table.Find("V0"), nullptr);  // names are case-sensitive
}

}  // namespace

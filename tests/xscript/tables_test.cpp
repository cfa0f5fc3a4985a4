// Symbol list, variable table and precedence table of the engine.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "xscript/precedence.h"
#include "xscript/tables.h"
#include "xscript/xscript.h"

namespace {

using namespace xscript;

TEST(XScriptTables, NameHashIsDjb2InWrappingUnsigned32BitArithmetic) {
    // Reference values computed outside the project.
    const struct {
        std::string name;
        uint32_t hash;
        uint32_t bucket;
    } cases[] = {
        {"", 5381u, 1285u},
        {"a", 177670u, 1542u},
        {"x", 177693u, 1565u},
        {"abc", 193485963u, 1163u},
        {"NPC_MessageMap", 13259880u, 1128u},
        {std::string(40, 'z'), 632842261u, 21u},  // wraps many times
        {"\xff\x80", 5868452u, 932u},             // bytes count as unsigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HashName(c.name), c.hash) << c.name;
        EXPECT_EQ(CXVariableTable::BucketOf(c.name), c.bucket) << c.name;
    }
}

TEST(XScriptTables, VariablesSharingABucketAreBothFoundAndKeepCreationOrder) {
    // Among 2049 names two must share one of the 2048 buckets.
    std::string first;
    std::string second;
    std::map<uint32_t, std::string> seen;
    for (int i = 0; second.empty(); ++i) {
        const std::string name = "v" + std::to_string(i);
        auto [it, inserted] = seen.emplace(CXVariableTable::BucketOf(name), name);
        if (!inserted) {
            first = it->second;
            second = name;
        }
    }
    CXVariableTable table;
    table.Set(first, CXValue("one", 0));
    table.Set(second, CXValue("two", 1));
    ASSERT_NE(table.Find(first), nullptr);
    ASSERT_NE(table.Find(second), nullptr);
    EXPECT_EQ(table.Find(first)->value.Text(), "one");
    EXPECT_EQ(table.Find(second)->value.Text(), "two");
    const auto& bucket = table.Bucket(CXVariableTable::BucketOf(first));
    ASSERT_EQ(bucket.size(), 2u);
    EXPECT_EQ(bucket[0].name, first);
    EXPECT_EQ(bucket[1].name, second);
    EXPECT_EQ(table.Find("v_absent"), nullptr);
}

TEST(XScriptTables, SettingAnExistingVariableOverwritesItInPlaceFlagIncluded) {
    CXVariableTable table;
    table.Set("x", CXValue("1", 0));
    table.Set("y", CXValue("2", 0));
    table.Set("x", CXValue("later", 1));
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_EQ(table.Find("x")->value.Text(), "later");
    EXPECT_EQ(table.Find("x")->value.Flag(), 1);
    // Names are case-sensitive.
    EXPECT_EQ(table.Find("X"), nullptr);
}

TEST(XScriptTables, SymbolListStartsWithTheBuiltInsInCodeOrder) {
    CXScript engine;
    const auto& symbols = engine.Symbols();
    // One entry per code 0 to 37 except the textless 30 to 32.
    ASSERT_EQ(symbols.size(), 35u);
    int32_t previous = -1;
    for (const CXSymbol& symbol : symbols) {
        EXPECT_GT(symbol.code, previous);
        EXPECT_FALSE(symbol.text.empty());
        EXPECT_TRUE(symbol.code < kBitOr || symbol.code > kBitXor);
        previous = symbol.code;
    }
    EXPECT_EQ(previous, kContinue);
    // "-" is there twice; a lookup by text finds subtraction.
    EXPECT_EQ(symbols[1].text, "-");
    EXPECT_EQ(symbols[2].text, "-");
    EXPECT_EQ(symbols[static_cast<size_t>(engine.FindSymbol("-"))].code, kSubtract);
    EXPECT_EQ(symbols[static_cast<size_t>(engine.FindSymbol("while"))].code, kWhile);
    EXPECT_EQ(engine.FindSymbol("print"), -1);

    // Host functions follow in registration order, with code 38.
    engine.RegisterFunction("GetVar");
    EXPECT_EQ(engine.RegisterFunction("GetVarEx"), 0);
    ASSERT_EQ(symbols.size(), 37u);
    EXPECT_EQ(symbols[35].text, "GetVar");
    EXPECT_EQ(symbols[36].text, "GetVarEx");
    EXPECT_EQ(symbols[36].code, kHostCall);
    EXPECT_EQ(engine.ErrorMessages(), std::vector<std::string>{"syntax error"});
}

TEST(XScriptPrecedence, RowGroupsCoverEveryRowOnceWithThirtyNineEntries) {
    std::set<int32_t> rows;
    for (const PrecedenceRowGroup& group : kPrecedenceRows) {
        for (int32_t i = 0; i < group.rowCount; ++i) {
            EXPECT_TRUE(rows.insert(group.rows[i]).second) << "row " << group.rows[i] << " twice";
        }
        // Four groups of ten, ten, ten and nine relations.
        const std::string entries = group.entries;
        ASSERT_EQ(entries.size(), 42u) << entries;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i == 10 || i == 21 || i == 32) {
                EXPECT_EQ(entries[i], ' ');
            } else {
                EXPECT_TRUE(entries[i] >= '0' && entries[i] <= '3') << entries;
            }
        }
    }
    EXPECT_EQ(rows.size(), 39u);
    EXPECT_EQ(*rows.begin(), 0);
    EXPECT_EQ(*rows.rbegin(), 38);
}

TEST(XScriptPrecedence, TableEntriesCarryTheLanguagesBindingRules) {
    const PrecedenceTable table = BuildPrecedenceTable();
    const struct {
        int32_t row;
        int32_t column;
        Relation relation;
        const char* why;
    } cases[] = {
        {kAdd, kMultiply, kShift, "* binds tighter than +"},
        {kAdd, kSubtract, kReduce, "+ and - group from the left"},
        {kLogicalOr, kAdd, kReduce, "|| and + are one level"},
        {kAssign, kAssign, kShift, "assignments group from the right"},
        {kEqual, kLogicalAnd, kShift, "&& binds tighter than =="},
        {kAssign, kComma, kSyntaxError, "an assignment directly before a comma"},
        {kMultiply, kNegate, kReduce, "a prefix operator applies the waiting *"},
        {kAssign, kNegate, kShift, "a prefix operator after ="},
        {kOpenParen, kCloseParen, kShiftAndReduce, "a ) closes its ("},
        {kOpenParen, kSemicolon, kSyntaxError, "a ; inside parentheses"},
        {kOpenBrace, kCloseBrace, kShiftAndReduce, "a } closes its {"},
        {kOpenBrace, kSemicolon, kSyntaxError, "an empty statement in a block"},
        {kIf, kOpenBrace, kReduce, "if is applied when its block opens"},
        {kIf, kAdd, kSyntaxError, "if needs a parenthesis"},
        {kBreak, kSemicolon, kShiftAndReduce, "break is applied by its ;"},
        {kHostCall, kOpenParen, kShift, "a call takes a parenthesis"},
        {kHostCall, kRemainder, kSyntaxError, "a call followed by %"},
        {kHostCall, kAdd, kReduce, "a call is applied before a following +"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(table[static_cast<size_t>(c.row)][static_cast<size_t>(c.column)], c.relation)
            << c.why;
    }
}

}  // namespace

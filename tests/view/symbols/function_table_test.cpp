#include "view/symbols/function_table.h"

#include <gtest/gtest.h>

#include "function_offset_printer.h"

namespace dormiscope::symbols {
namespace {

// .text at 0x1000-0x2000: a private function at 0x1000-0x1040 (public
// symbol too), an assembly routine known only by its public symbol at
// 0x1100, a private one at 0x1200-0x1210.
TEST(FunctionTable, PrivateRangesFirstThenTheNearestPublicSymbolUpToTheNextSymbol) {
    const FunctionTable table({{0x1200, 0x1210, "late"}, {0x1000, 0x1040, "first"}},
                              {{0x1000, 0x2000, "first"}, {0x1100, 0x2000, "routine"}});
    struct Case {
        std::uint32_t offset;
        std::optional<FunctionOffset> expected;
    };
    const Case cases[] = {
        {0x0fff, std::nullopt},
        {0x1000, FunctionOffset{"first", 0}},
        {0x103f, FunctionOffset{"first", 0x3f}},
        {0x1040, std::nullopt},  // padding after a function whose size is known
        {0x1100, FunctionOffset{"routine", 0}},
        {0x11ff, FunctionOffset{"routine", 0xff}},
        {0x1208, FunctionOffset{"late", 8}},
        {0x1210, std::nullopt},  // after "late", which is nearer than "routine"
        {0x2000, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(table.Lookup(c.offset), c.expected) << std::hex << c.offset;
    }
}

TEST(FunctionTable, PublicSymbolsAloneReachTheEndOfTheirSection) {
    const FunctionTable table({}, {{0x1000, 0x1800, "a"}, {0x1400, 0x1800, "b"}});
    EXPECT_EQ(table.Lookup(0x13ff), (FunctionOffset{"a", 0x3ff}));
    EXPECT_EQ(table.Lookup(0x17ff), (FunctionOffset{"b", 0x3ff}));
    EXPECT_EQ(table.Lookup(0x1800), std::nullopt);
}

}  // namespace
}  // namespace dormiscope::symbols

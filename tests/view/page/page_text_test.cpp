// Numbers and counts as the wake page writes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "view/page/page_text.h"

namespace dormiscope::view {
namespace {

TEST(PageText, GroupsThousandsOfTheIntegerPartOnly) {
    struct Case {
        double value;
        int decimals;
        std::string expected;
    };
    const Case cases[] = {
        {0, 1, "0.0"},          {999, 0, "999"},           {1000, 0, "1,000"},
        {999.96, 1, "1,000.0"}, {1234.5678, 3, "1,234.568"}, {-1234567, 0, "-1,234,567"},
        {123456.5, 1, "123,456.5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Grouped(c.value, c.decimals), c.expected) << c.value;
    }
    EXPECT_EQ(Grouped(std::uint64_t{18'446'744'073'709'551'615U}), "18,446,744,073,709,551,615");
}

TEST(PageText, CountsTakeTheSingularForOneOnly) {
    EXPECT_EQ(CountOf(0, "processor", "processors"), "0 processors");
    EXPECT_EQ(CountOf(1, "processor", "processors"), "1 processor");
    EXPECT_EQ(CountOf(1024, "processor", "processors"), "1,024 processors");
}

}  // namespace
}  // namespace dormiscope::view

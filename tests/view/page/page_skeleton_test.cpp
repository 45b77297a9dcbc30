// The page from its skeleton: slots filled by name, and the real skeleton
// left with no slot unfilled.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "view/page/comparison_page.h"
#include "view/page/page_skeleton.h"
#include "view/page/wakes_page.h"
#include "view/page/web_files.h"

namespace dormiscope::view {
namespace {

TEST(PageSkeleton, FillsEachSlotByNameAndKeepsTheRestAsWritten) {
    const Slot slots[] = {{"a", "1"}, {"b", "{{a}}"}, {"empty", ""}};
    struct Case {
        const char* skeleton;
        const char* expected;
    };
    const Case cases[] = {
        {"no slots", "no slots"},
        {"{{a}}", "1"},
        {"<{{a}}|{{a}}>", "<1|1>"},
        // A slot's text is not read again for slots.
        {"x{{b}}y", "x{{a}}y"},
        {"[{{empty}}]", "[]"},
        {"{{unknown}} {{a}}", "{{unknown}} 1"},
        {"{{a}} {{a", "1 {{a"},
        {"{a}} }}{{", "{a}} }}{{"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FillSkeleton(c.skeleton, slots, 0), c.expected) << c.skeleton;
    }
}

// Each page holds the web files its skeleton lists, and fills every slot.
TEST(PageSkeleton, EachPageFillsEverySlotOfItsSkeleton) {
    TraceFigures figures;
    figures.processors = 1;
    figures.coverage_notes = {"note"};
    figures.trace_notes = {"another note"};
    Comparison comparison;
    comparison.notes = {"machines differ"};
    const std::vector<BrokenRule> broken = {{"wakes_per_s", "1", "2"}};
    struct Case {
        std::string page;
        std::set<std::string_view> files;
    };
    const Case cases[] = {
        {WakesPage(figures, R"({"trace":{}})", R"({"frames":[],"modules":[],"threads":[]})", "trace.etl", broken),
         {"page.css", "cells.js", "sorting.js", "stacks.js", "table.js", "routines.js", "summary.js", "timers.js",
          "tooltip.js", "flame.js", "filter.js"}},
        {ComparisonPage(comparison, R"({"processes":[]})", "a.etl", "b.json", broken),
         {"page.css", "cells.js", "sorting.js", "compare.js"}},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(test.page.find("{{"), std::string::npos) << test.page.substr(0, 2000);
        EXPECT_NE(test.page.find("Budget broken"), std::string::npos);
        for (const WebFile& file : WebFiles()) {
            EXPECT_EQ(test.page.find(file.text) != std::string::npos, test.files.contains(file.name)) << file.name;
        }
    }
}

}  // namespace
}  // namespace dormiscope::view

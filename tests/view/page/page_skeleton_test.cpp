// The page from its skeleton: slots filled by name, and the real skeleton
// left with no slot unfilled.
#include <gtest/gtest.h>

#include <string>

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

TEST(PageSkeleton, TheWakePageFillsEverySlotOfPageHtml) {
    TraceFigures figures;
    figures.processors = 1;
    figures.coverage_notes = {"note"};
    figures.trace_notes = {"another note"};
    const std::string page =
        WakesPage(figures, R"({"trace":{}})", R"({"frames":[],"modules":[],"threads":[]})", "trace.etl");
    EXPECT_EQ(page.find("{{"), std::string::npos) << page.substr(0, 2000);
    for (const WebFile& file : WebFiles()) {
        if (file.name != "page.html") {
            EXPECT_NE(page.find(file.text), std::string::npos) << file.name << " is not in the page";
        }
    }
}

}  // namespace
}  // namespace dormiscope::view

#include "view/page/wakes_page.h"

#include <vector>

#include "report/name_text.h"
#include "view/page/budget_section.h"
#include "view/page/page_skeleton.h"
#include "view/page/page_text.h"
#include "view/page/summary_section.h"
#include "view/page/web_files.h"

namespace dormiscope::view {
namespace {

std::string Seconds(std::uint64_t units) {
    return Grouped(static_cast<double>(units) / 1e7, 3);
}

std::string CoverageBanner(const TraceFigures& figures) {
    std::string out;
    if (figures.coverage_notes.empty()) {
        return out;
    }
    out += "<div class=\"banner\" id=\"coverage\" role=\"alert\"><b>Incomplete trace.</b>";
    for (const std::string& note : figures.coverage_notes) {
        out += "<p>" + HtmlText(NameText(note)) + "</p>";
    }
    out += "</div>";
    return out;
}

// Not a defect of the trace: what its recording left out, and what the page
// does not use; quieter than the banner.
std::string TraceNotes(const TraceFigures& figures) {
    std::string out;
    if (figures.trace_notes.empty()) {
        return out;
    }
    out += "<div class=\"legend\" id=\"notes\"><p><b>Notes on this trace.</b></p><ul>";
    for (const std::string& note : figures.trace_notes) {
        out += "<li>" + HtmlText(NameText(note)) + "</li>";
    }
    out += "</ul></div>";
    return out;
}

}  // namespace

std::string WakesPage(const TraceFigures& figures, std::string_view json, std::string_view flame,
                      std::string_view trace_name, const std::optional<std::vector<BrokenRule>>& broken_rules) {
    const std::string trace = HtmlText(NameText(trace_name));
    const std::string duration = Seconds(figures.duration);
    const std::string processors = CountOf(figures.processors, "processor", "processors");
    const std::string banner = CoverageBanner(figures);
    const std::string notes = TraceNotes(figures);
    std::string summary;
    AppendSummary(summary, figures);
    const std::string budget = BudgetSection(broken_rules);
    const std::string data = ScriptText(json);
    // page.html names the trace's parts and, by file name, the style sheet and
    // the scripts it holds.
    std::vector<Slot> slots = {{"trace", trace},   {"duration", duration}, {"processors", processors},
                               {"banner", banner}, {"notes", notes},       {"summary", summary},
                               {"data", data},     {"flame", flame}, {"budget", budget}};
    std::string_view skeleton;
    for (const WebFile& file : WebFiles()) {
        slots.push_back({file.name, file.text});
        if (file.name == "page.html") {
            skeleton = file.text;
        }
    }
    return FillSkeleton(skeleton, slots, data.size() + flame.size() + 64 * 1024);
}

}  // namespace dormiscope::view

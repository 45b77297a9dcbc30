#include "view/page/comparison_page.h"

#include "report/name_text.h"
#include "view/page/budget_section.h"
#include "view/page/page_skeleton.h"
#include "view/page/page_text.h"
#include "view/page/web_files.h"

namespace dormiscope::view {
namespace {

// What the reader must know before trusting the rows: machines that differ,
// and each side's incomplete coverage.
std::string NotesBanner(const Comparison& comparison) {
    std::string notes;
    for (const std::string& note : comparison.notes) {
        notes += "<p>" + HtmlText(NameText(note)) + "</p>";
    }
    for (const auto& [side, summary] : {std::pair{"Before", &comparison.before}, {"After", &comparison.after}}) {
        for (const std::string& note : summary->coverage_notes) {
            notes += "<p><b>" + std::string(side) + ":</b> " + HtmlText(NameText(note)) + "</p>";
        }
    }
    return notes.empty() ? notes : "<div class=\"banner\" id=\"notes\" role=\"alert\">" + notes + "</div>";
}

}  // namespace

std::string ComparisonPage(const Comparison& comparison, std::string_view json, std::string_view before_name,
                           std::string_view after_name, const std::optional<std::vector<BrokenRule>>& broken_rules) {
    const std::string before = HtmlText(NameText(before_name));
    const std::string after = HtmlText(NameText(after_name));
    const std::string banner = NotesBanner(comparison);
    const std::string budget = BudgetSection(broken_rules);
    const std::string data = ScriptText(json);
    std::vector<Slot> slots = {
        {"before", before}, {"after", after}, {"banner", banner}, {"budget", budget}, {"data", data}};
    std::string_view skeleton;
    for (const WebFile& file : WebFiles()) {
        slots.push_back({file.name, file.text});
        if (file.name == "compare.html") {
            skeleton = file.text;
        }
    }
    return FillSkeleton(skeleton, slots, data.size() + 64 * 1024);
}

}  // namespace dormiscope::view

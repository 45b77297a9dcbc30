#include "view/page/budget_section.h"

#include "report/name_text.h"
#include "view/page/page_text.h"

namespace dormiscope::view {

std::string BudgetSection(const std::optional<std::vector<BrokenRule>>& broken_rules) {
    if (!broken_rules) {
        return {};
    }
    if (broken_rules->empty()) {
        return "<section id=\"budget\" class=\"budget kept\"><h2>Budget</h2><p>Every rule of the budget is kept.</p>"
               "</section>";
    }
    std::string out = "<section id=\"budget\" class=\"budget broken\" role=\"alert\"><h2>Budget broken</h2><ul>";
    for (const BrokenRule& broken : *broken_rules) {
        out += "<li><code>" + HtmlText(NameText(broken.rule)) + "</code>: limit " + HtmlText(NameText(broken.limit)) +
               ", measured " + HtmlText(NameText(broken.measured)) + "</li>";
    }
    out += "</ul></section>";
    return out;
}

}  // namespace dormiscope::view

// The comparison page: one self-contained HTML file. The notes and the budget
// are written as HTML; the summary side by side and the tables are built in
// the browser from the page's copy of the comparison's JSON document.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "view/budget/budget.h"
#include "view/compare/comparison.h"

namespace dormiscope::view {

// `json` is ComparisonJson(comparison); the names are the two sides' files.
std::string ComparisonPage(const Comparison& comparison, std::string_view json, std::string_view before_name,
                           std::string_view after_name, const std::optional<std::vector<BrokenRule>>& broken_rules);

}  // namespace dormiscope::view

// The wake page: one self-contained HTML file. The summary and its charts are
// written as HTML; the process and thread table is built in the browser from
// the page's copy of the JSON document, so that a trace of ten thousand
// threads stays a few megabytes and renders at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "view/budget/budget.h"
#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// `json` is WakesJson(figures), `flame` FlameData(figures); `trace_name` is
// shown as the page's source. With a budget, the page lists the rules broken
// (or says all were kept).
std::string WakesPage(const TraceFigures& figures, std::string_view json, std::string_view flame,
                      std::string_view trace_name,
                      const std::optional<std::vector<BrokenRule>>& broken_rules = std::nullopt);

}  // namespace dormiscope::view

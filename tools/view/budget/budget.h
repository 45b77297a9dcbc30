// A budget for idle wakes, as a CI holds a recording (or a comparison's later
// recording) to it: each rule broken is named with its limit and what was measured.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "view/compare/comparison.h"
#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// Every rule is optional; rates are per second over the whole recording.
struct Budget {
    std::optional<double> wakes_per_s;
    std::optional<double> idle_wakes_per_s;
    std::map<std::wstring, double> process_wakes_per_s;  // by image name, its processes added up
    std::optional<double> shortest_period_ms;            // no periodic thread faster than this
    std::optional<double> max_increase_percent;          // comparisons only: increases beyond noise
};

struct BrokenRule {
    std::string rule;      // as the budget file names it: processes["a.exe"].wakes_per_s
    std::string limit;
    std::string measured;  // the figure, and where it was found when the rule covers many
};

// The rules the recording breaks; max_increase_percent is the comparison's.
std::vector<BrokenRule> BrokenRules(const Budget& budget, const TraceFigures& figures);
std::vector<BrokenRule> BrokenRules(const Budget& budget, const Comparison& comparison);

// "budget broken: RULE: limit L, measured M"
std::string BrokenRuleLine(const BrokenRule& broken);

}  // namespace dormiscope::view

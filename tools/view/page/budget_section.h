// The page's budget section: the rules broken, as standard error lists them,
// or that every rule was kept.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "view/budget/budget.h"

namespace dormiscope::view {

// Empty when no budget was given.
std::string BudgetSection(const std::optional<std::vector<BrokenRule>>& broken_rules);

}  // namespace dormiscope::view

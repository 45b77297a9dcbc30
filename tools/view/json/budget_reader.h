// A budget file: a JSON object of the rules to hold, each optional.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "view/budget/budget.h"

namespace dormiscope::view {

struct BudgetReading {
    std::optional<Budget> budget;  // none when refused
    std::string refusal;           // what is wrong, naming the key
};

// Refuses text that is not JSON, keys that are unknown or given twice, and
// limits that are not numbers of 0 or more.
BudgetReading ReadBudget(std::string_view text);

}  // namespace dormiscope::view

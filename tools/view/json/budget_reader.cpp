#include "view/json/budget_reader.h"

#include <set>

#include "report/name_text.h"
#include "view/json/json_tokens.h"
#include "view/json/token_cursor.h"

namespace dormiscope::view {
namespace {

// processes → image → rule.
constexpr std::size_t kBudgetDepth = 3;

double Limit(TokenCursor& in) {
    const double value = in.Number();
    if (value < 0) {
        in.Refuse("expected a limit of 0 or more");
    }
    return value;
}

// Each key once: an object's own keys may not repeat, as in a wakes document.
void Once(TokenCursor& in, std::set<std::string, std::less<>>& seen, std::string_view key) {
    if (!seen.emplace(key).second) {
        in.Refuse("given twice");
    }
}

void Processes(TokenCursor& in, Budget& budget) {
    std::set<std::string, std::less<>> images;
    in.Entries([&](std::string_view image) {
        Once(in, images, image);
        std::set<std::string, std::less<>> rules;
        in.Entries([&](std::string_view rule) {
            Once(in, rules, rule);
            if (rule != "wakes_per_s") {
                in.Refuse("not a rule of a process; the rule is \"wakes_per_s\"");
            }
            budget.process_wakes_per_s[NameText(image)] = Limit(in);
        });
    });
}

}  // namespace

BudgetReading ReadBudget(std::string_view text) {
    const JsonTokens tokens = TokenizeJson(text, kBudgetDepth);
    if (!tokens.error.empty()) {
        return {std::nullopt, tokens.error};
    }
    Budget budget;
    try {
        TokenCursor in(tokens);
        std::set<std::string, std::less<>> seen;
        in.Entries([&](std::string_view key) {
            Once(in, seen, key);
            if (key == "wakes_per_s") {
                budget.wakes_per_s = Limit(in);
            } else if (key == "idle_wakes_per_s") {
                budget.idle_wakes_per_s = Limit(in);
            } else if (key == "processes") {
                Processes(in, budget);
            } else if (key == "shortest_period_ms") {
                budget.shortest_period_ms = Limit(in);
            } else if (key == "max_increase_percent") {
                budget.max_increase_percent = Limit(in);
            } else {
                in.Refuse(
                    "not a rule of a budget; the rules are wakes_per_s, idle_wakes_per_s, processes, "
                    "shortest_period_ms and max_increase_percent");
            }
        });
    } catch (const DocumentRefusal& refusal) {
        return {std::nullopt, refusal.what()};
    }
    return {std::move(budget), {}};
}

}  // namespace dormiscope::view

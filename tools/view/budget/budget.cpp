#include "view/budget/budget.h"

#include <cstdio>
#include <limits>

#include "view/figures/utf8_text.h"

namespace dormiscope::view {
namespace {

double PerSecond(std::uint64_t count, std::uint64_t duration) {
    return duration == 0 ? 0.0 : static_cast<double>(count) * 1e7 / static_cast<double>(duration);
}

// Up to three decimals, without trailing zeros.
std::string Figure(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string shown = text;
    shown.erase(shown.find_last_not_of('0') + 1);
    if (shown.back() == '.') {
        shown.pop_back();
    }
    return shown;
}

std::string AndMore(std::size_t others, std::string_view what) {
    return others == 0 ? "" : ", and " + std::to_string(others) + " more " + std::string(what);
}

void CheckRate(std::vector<BrokenRule>& broken, std::string rule, const std::optional<double>& limit, double rate) {
    if (limit && rate > *limit) {
        broken.push_back({std::move(rule), Figure(*limit), Figure(rate)});
    }
}

// The fastest periodic thread below the limit, and how many others are.
void CheckPeriods(std::vector<BrokenRule>& broken, const Budget& budget, const TraceFigures& figures) {
    if (!budget.shortest_period_ms) {
        return;
    }
    const ProcessFigures* fastest_process = nullptr;
    const ThreadFigures* fastest = nullptr;
    std::size_t faster = 0;
    for (const ProcessFigures& process : figures.processes) {
        for (const ThreadFigures& thread : process.threads) {
            if (!thread.periodicity_ms || *thread.periodicity_ms < 0 ||
                *thread.periodicity_ms >= *budget.shortest_period_ms) {
                continue;
            }
            ++faster;
            if (fastest == nullptr || *thread.periodicity_ms < *fastest->periodicity_ms) {
                fastest = &thread;
                fastest_process = &process;
            }
        }
    }
    if (fastest != nullptr) {
        broken.push_back({"shortest_period_ms", Figure(*budget.shortest_period_ms),
                          std::to_string(*fastest->periodicity_ms) + " (" + Utf8Of(fastest_process->name) + " pid " +
                              std::to_string(fastest_process->process_id) + ", thread " +
                              std::to_string(fastest->thread_id) + AndMore(faster - 1, "threads") + ")"});
    }
}

std::string RowName(const ProcessComparison& process) {
    std::string name = Utf8Of(process.name);
    if (process.command_line && process.processes_after + process.processes_before > 2) {
        name += " [" + Utf8Of(*process.command_line) + "]";
    }
    return name;
}

std::string GroupName(const ThreadGroupComparison& group) {
    switch (group.key_kind) {
        case ThreadGroupComparison::KeyKind::kName:
            return "thread \"" + Utf8Of(group.key) + "\"";
        case ThreadGroupComparison::KeyKind::kStart:
            return "threads at " + Utf8Of(group.key);
        case ThreadGroupComparison::KeyKind::kNone:
            break;
    }
    return "threads without name or start routine";
}

// An increase beyond noise in percent; infinite for a row that is new.
std::optional<double> IncreasePercent(const CountChange& change) {
    if (!change.beyond_noise || change.change_per_second <= 0) {
        return std::nullopt;
    }
    return change.ratio ? (*change.ratio - 1) * 100 : std::numeric_limits<double>::infinity();
}

std::string IncreaseText(double percent, const CountChange& change) {
    std::string text = "new";
    if (percent != std::numeric_limits<double>::infinity()) {
        text = '+';
        text += Figure(percent);
        text += " %";
    }
    text += " (";
    text += Figure(change.before_per_second);
    text += " to ";
    text += Figure(change.after_per_second);
    text += " wakes/s)";
    return text;
}

}  // namespace

std::vector<BrokenRule> BrokenRules(const Budget& budget, const TraceFigures& figures) {
    std::vector<BrokenRule> broken;
    CheckRate(broken, "wakes_per_s", budget.wakes_per_s, PerSecond(figures.wakes, figures.duration));
    CheckRate(broken, "idle_wakes_per_s", budget.idle_wakes_per_s, PerSecond(figures.idle_wakes, figures.duration));
    for (const auto& [image, limit] : budget.process_wakes_per_s) {
        std::uint64_t wakes = 0;
        for (const ProcessFigures& process : figures.processes) {
            if (process.name == image) {
                wakes += process.wakes;
            }
        }
        CheckRate(broken, "processes[\"" + Utf8Of(image) + "\"].wakes_per_s", limit,
                  PerSecond(wakes, figures.duration));
    }
    CheckPeriods(broken, budget, figures);
    return broken;
}

std::vector<BrokenRule> BrokenRules(const Budget& budget, const Comparison& comparison) {
    std::vector<BrokenRule> broken;
    if (!budget.max_increase_percent) {
        return broken;
    }
    // The biggest increase beyond the limit, among process rows and thread groups.
    std::optional<std::pair<double, std::string>> worst;
    std::size_t rows = 0;
    const auto consider = [&](const CountChange& change, const std::string& what) {
        const std::optional<double> percent = IncreasePercent(change);
        if (!percent || *percent <= *budget.max_increase_percent) {
            return;
        }
        ++rows;
        if (!worst || *percent > worst->first) {
            worst.emplace(*percent, what + ": " + IncreaseText(*percent, change));
        }
    };
    for (const ProcessComparison& process : comparison.processes) {
        consider(process.wakes, RowName(process));
        for (const ThreadGroupComparison& group : process.groups) {
            consider(group.wakes, RowName(process) + ", " + GroupName(group));
        }
    }
    if (worst) {
        broken.push_back({"max_increase_percent", Figure(*budget.max_increase_percent),
                          worst->second + AndMore(rows - 1, "rows")});
    }
    return broken;
}

std::string BrokenRuleLine(const BrokenRule& broken) {
    return "budget broken: " + broken.rule + ": limit " + broken.limit + ", measured " + broken.measured;
}

}  // namespace dormiscope::view

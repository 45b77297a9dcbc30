#include "view/program/view_options.h"

#include <algorithm>

#include "platform/system/native_text.h"

namespace dormiscope::view {
namespace {

// ASCII letters only, whatever the locale, as dormiscope compares its switches.
bool IsSwitch(const std::wstring& argument, std::wstring_view name) {
    return std::equal(argument.begin(), argument.end(), name.begin(), name.end(), [](wchar_t given, wchar_t wanted) {
        return (given >= L'A' && given <= L'Z' ? given - L'A' + L'a' : given) == wanted;
    });
}

std::string Shown(const std::wstring& argument) {
    return PathFromWide(argument).string();
}

// An argument where a switch was expected that is not one of ours.
std::string WhyRefused(const std::wstring& argument) {
    if (IsSwitch(argument, L"--help") || IsSwitch(argument, L"-h") || IsSwitch(argument, L"--version")) {
        return Shown(argument) + " goes alone";
    }
    return (argument.starts_with(L'-') ? "unknown switch " : "stray argument ") + Shown(argument);
}

ViewCommandLine Refused(std::string problem) {
    return {std::nullopt, std::move(problem)};
}

}  // namespace

ViewCommandLine ParseViewOptions(const std::vector<std::wstring>& arguments) {
    ViewOptions options;
    if (arguments.size() == 2) {
        if (IsSwitch(arguments[1], L"--help") || IsSwitch(arguments[1], L"-h")) {
            options.request = ViewOptions::Request::kHelp;
            return {options, {}};
        }
        if (IsSwitch(arguments[1], L"--version")) {
            options.request = ViewOptions::Request::kVersion;
            return {options, {}};
        }
    }
    for (std::size_t index = 1; index < arguments.size(); index += 2) {
        const std::wstring& name = arguments[index];
        // The two switches without a value.
        bool* const flag = IsSwitch(name, L"--folded-idle")      ? &options.folded_idle
                           : IsSwitch(name, L"--folded-offwake") ? &options.folded_off_wake
                                                                  : nullptr;
        if (flag != nullptr) {
            if (*flag) {
                return Refused(Shown(name) + " given twice");
            }
            *flag = true;
            --index;
            continue;
        }
        const bool symbol_folder = IsSwitch(name, L"--symbols");
        if (IsSwitch(name, L"--compare")) {
            if (index + 2 >= arguments.size() || arguments[index + 1].empty() || arguments[index + 2].empty()) {
                return Refused(Shown(name) + " needs two values, BEFORE and AFTER");
            }
            if (!options.before_path.empty()) {
                return Refused(Shown(name) + " given twice");
            }
            options.before_path = arguments[index + 1];
            options.after_path = arguments[index + 2];
            ++index;
            continue;
        }
        std::wstring* target = nullptr;
        if (IsSwitch(name, L"-i")) {
            target = &options.trace_path;
        } else if (IsSwitch(name, L"-o")) {
            target = &options.page_path;
        } else if (IsSwitch(name, L"--json")) {
            target = &options.json_path;
        } else if (IsSwitch(name, L"--folded")) {
            target = &options.folded_path;
        } else if (IsSwitch(name, L"--csv")) {
            target = &options.csv_path;
        } else if (IsSwitch(name, L"--budget")) {
            target = &options.budget_path;
        } else if (!symbol_folder) {
            return Refused(WhyRefused(name));
        }
        if (index + 1 >= arguments.size() || arguments[index + 1].empty()) {
            return Refused(Shown(name) + " needs a value");
        }
        const std::wstring& value = arguments[index + 1];
        if (symbol_folder) {
            options.symbol_folders.push_back(value);
            continue;
        }
        if (!target->empty()) {
            return Refused(Shown(name) + " given twice");
        }
        *target = value;
    }
    if (options.trace_path.empty() && options.before_path.empty()) {
        return Refused("no trace given (-i)");
    }
    if (!options.trace_path.empty() && !options.before_path.empty()) {
        return Refused("-i and --compare do not go together");
    }
    if (options.page_path.empty()) {
        return Refused("no page given (-o)");
    }
    if (options.comparing() && !(options.folded_path.empty() && options.csv_path.empty())) {
        return Refused(std::string(options.folded_path.empty() ? "--csv" : "--folded") + " goes with -i, not --compare");
    }
    if ((options.folded_idle || options.folded_off_wake) && options.folded_path.empty()) {
        return Refused(std::string(options.folded_idle ? "--folded-idle" : "--folded-offwake") +
                       " needs --folded FILE");
    }
    return {options, {}};
}

}  // namespace dormiscope::view

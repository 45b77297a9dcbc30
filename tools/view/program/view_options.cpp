#include "view/program/view_options.h"

#include <algorithm>

namespace dormiscope::view {
namespace {

// ASCII letters only, whatever the locale, as dormiscope compares its switches.
bool IsSwitch(const std::wstring& argument, std::wstring_view name) {
    return std::equal(argument.begin(), argument.end(), name.begin(), name.end(), [](wchar_t given, wchar_t wanted) {
        return (given >= L'A' && given <= L'Z' ? given - L'A' + L'a' : given) == wanted;
    });
}

}  // namespace

std::optional<ViewOptions> ParseViewOptions(const std::vector<std::wstring>& arguments) {
    ViewOptions options;
    if (arguments.size() == 2) {
        if (IsSwitch(arguments[1], L"--help") || IsSwitch(arguments[1], L"-h")) {
            options.request = ViewOptions::Request::kHelp;
            return options;
        }
        if (IsSwitch(arguments[1], L"--version")) {
            options.request = ViewOptions::Request::kVersion;
            return options;
        }
    }
    bool has_json = false;
    for (std::size_t index = 1; index < arguments.size(); index += 2) {
        const std::wstring& name = arguments[index];
        if (index + 1 >= arguments.size()) {
            return std::nullopt;
        }
        const std::wstring& value = arguments[index + 1];
        std::wstring* target = nullptr;
        if (IsSwitch(name, L"-i")) {
            target = &options.trace_path;
        } else if (IsSwitch(name, L"-o")) {
            target = &options.page_path;
        } else if (IsSwitch(name, L"--symbols")) {
            if (value.empty()) {
                return std::nullopt;
            }
            options.symbol_folders.push_back(value);
            continue;
        } else if (IsSwitch(name, L"--json")) {
            target = &options.json_path;
            if (has_json) {
                return std::nullopt;
            }
            has_json = true;
        } else {
            return std::nullopt;
        }
        if (!target->empty() || value.empty()) {
            return std::nullopt;
        }
        *target = value;
    }
    if (options.trace_path.empty() || options.page_path.empty()) {
        return std::nullopt;
    }
    return options;
}

}  // namespace dormiscope::view

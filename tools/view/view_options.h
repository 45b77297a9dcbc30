// The wake view's command line: -i trace.etl -o wakes.html [--json wakes.json].
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dormiscope::view {

struct ViewOptions {
    std::wstring trace_path;
    std::wstring page_path;
    std::wstring json_path;  // empty: no JSON document
};

inline constexpr const char* kViewUsage = "usage: dormiscope-view -i trace.etl -o wakes.html [--json wakes.json]\n";

// The options, or nothing when a switch is unknown, repeated or without its
// value, a stray argument is given, or -i or -o is missing. Element 0 is the
// program path.
std::optional<ViewOptions> ParseViewOptions(const std::vector<std::wstring>& arguments);

}  // namespace dormiscope::view

// The wake figures as a JSON document for scripts: ASCII only, names escaped
// as the report escapes them, times in milliseconds, rates per second.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// The document's first keys, so that a reader knows what it holds: another
// layout of the same keys is another version.
inline constexpr std::string_view kWakesFormat = "dormiscope-wakes";
inline constexpr std::uint64_t kWakesFormatVersion = 1;

// The whole document: the format and the trace's figures on the first line, then one line per
// process, ended by a line feed.
std::string WakesJson(const TraceFigures& figures);

}  // namespace dormiscope::view

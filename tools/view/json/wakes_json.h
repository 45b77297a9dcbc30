// The wake figures as a JSON document for scripts: ASCII only, names escaped
// as the report escapes them, times in milliseconds, rates per second.
#pragma once

#include <string>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// The whole document: the trace's figures on the first line, then one line per
// process, ended by a line feed.
std::string WakesJson(const TraceFigures& figures);

}  // namespace dormiscope::view

// The wake figures as a JSON document for scripts: ASCII only, names escaped
// as the report escapes them, times in milliseconds, rates per second.
#pragma once

#include <string>

#include "view/figures/wake_figures.h"
#include "view/stacks/frame_names.h"

namespace dormiscope::view {

// The whole document: the trace's figures on the first line, then one line per
// process, ended by a line feed. Every frame reads as `frame_names` names it.
std::string WakesJson(const TraceFigures& figures, FrameNames& frame_names);

}  // namespace dormiscope::view

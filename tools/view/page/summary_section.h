// The wake page's summary: the trace's figures as cards, the C-state mix of
// idle exits and the idle wakes of each processor, written as HTML.
#pragma once

#include <string>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

void AppendSummary(std::string& out, const TraceFigures& figures);

}  // namespace dormiscope::view

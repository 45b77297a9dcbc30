// The wakes' stacks in the folded format flame-graph tools read: one line per
// distinct stack, its frames root first joined by ";", a space and its weight.
// Each line starts with the process ("app.exe (pid 720)") and the thread
// ("tid 100" or "Timer worker (tid 100)").
#pragma once

#include <string>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

struct FoldedStyle {
    // Weight by the wakes that pulled a processor out of idle, not by all wakes.
    bool idle_wakes = false;
    // Above the wait stack (root to leaf), a "--" frame, then the readying
    // stack from its leaf to its root, then who readied the thread.
    bool off_wake = false;
};

// Lines in the figures' order (process, thread, most wakes first); lines that
// read alike are one, and weights of 0 are left out. A frame's ";" reads ":"
// and control characters read as spaces, so that every line parses.
std::string FoldedStacks(const TraceFigures& figures, FoldedStyle style);

}  // namespace dormiscope::view

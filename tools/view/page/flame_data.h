// What the page's flame graphs draw: every distinct stack combination of
// every thread (the document keeps only each thread's five most frequent
// stacks), as JSON for a script element of its own. Frames are listed once
// and referred to by index, each with its module and whether it is kernel
// code, so that ten thousand stacks stay a small part of the page.
#pragma once

#include <string>

#include "view/figures/wake_figures.h"

namespace dormiscope::view {

// {"frames": [[text, module index]], "modules": [[name, 1 for kernel code]],
//  "threads": [[process index, thread index in the document,
//               [[wakes, idle wakes, [wait frames, root first],
//                 [readying frames, leaf first], waker]]]]}
// Threads without stacks are left out; "<" is written as \u003c.
std::string FlameData(const TraceFigures& figures);

}  // namespace dormiscope::view

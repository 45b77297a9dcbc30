// How many processors the calling thread may run on, so that work is split
// across threads only where they can run at the same time.
#pragma once

namespace dormiscope {

// The processors the calling thread, and any thread it starts, may run on
// (on Windows, the process's); at least 1.
unsigned ProcessorsToRunOn();

}  // namespace dormiscope

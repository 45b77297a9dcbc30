// How many processors the process may run on, so that work is split across
// threads only where they can run at the same time.
#pragma once

namespace dormiscope {

// The processors of the process's affinity; at least 1.
unsigned ProcessorsToRunOn();

}  // namespace dormiscope

// The machine a sample trace records: the scenario's processes and threads,
// the generated background processes, and the launched ones, with every id
// assigned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "make_sample/sample_random.h"
#include "make_sample/scenario.h"

namespace dormiscope::sample {

struct MachineProcess {
    ProcessSpec description{};         // threads included
    bool launched = false;      // created during the recording
    std::int64_t start = 0;     // launched: 100-ns offsets from the trace start
    std::int64_t end = 0;
};

struct Machine {
    std::vector<MachineProcess> processes;
};

// Background processes take free ids (multiples of 4, as Windows hands out)
// and names from the scenario's list in turn; launched processes get
// `threads` threads of their own.
Machine BuildMachine(const Scenario& scenario, SampleRandom& random);

}  // namespace dormiscope::sample

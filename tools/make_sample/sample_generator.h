// Turns a scenario into a kernel trace as dormiscope.wprp records it: the
// rundown of the processes, threads and modules present at the start,
// processes launched and ended on the way (with their modules), the context
// switches of periodic, noisy and idle threads with their readies, stacks and
// the DPCs and interrupts that wake them, and the closing rundown; the power
// manager's rundown at both ends names the finer timer held by the process
// whose thread wakes faster than the default clock tick.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "make_sample/scenario.h"

namespace dormiscope::sample {

struct SampleSummary {
    std::map<std::string, std::uint64_t> events_by_kind;  // e.g. "Process DCStart", "CSwitch", "Stack"
    std::uint64_t events = 0;                             // without the logfile header
    std::uint32_t buffers = 0;
    std::uintmax_t file_size = 0;
    std::size_t processes = 0;
    std::size_t threads = 0;
};

// Writes the trace of `scenario` to `output`, with the programs whose images
// `program_images` holds (none when empty) named by those images' PDBs; the
// same scenario and images always give the same bytes.
SampleSummary WriteSample(const Scenario& scenario, const std::filesystem::path& output,
                          const std::filesystem::path& program_images);

}  // namespace dormiscope::sample

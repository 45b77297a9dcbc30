// Runs a piece of work in a child process (fork) and takes back the bytes it
// returns through a pipe, so that whatever the work does to its own memory
// (a crash, a corrupted heap, an endless loop) ends only the child. POSIX only.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace dormiscope::symbols {

struct ChildProcessResult {
    bool finished = false;  // the work returned and the child exited with 0
    std::string output;     // what it returned, when finished
    std::string failure;    // otherwise why not, e.g. "ended by signal 11: Segmentation fault"
};

// The child is stopped (SIGKILL) once `time_limit` has passed or it sends more
// than `output_limit` bytes. `work` runs only in the child, with the default
// action for the signals that report a crash, and never returns into the
// caller's code there: an exception ends the child too.
ChildProcessResult RunInChildProcess(const std::function<std::string()>& work, std::chrono::milliseconds time_limit,
                                     std::size_t output_limit);

}  // namespace dormiscope::symbols

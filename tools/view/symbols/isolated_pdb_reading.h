// Reads a PDB in a child process: a file that breaks LLVM's reader (a crash,
// memory corrupted inside the reader, an endless loop) then costs only that
// PDB's names, never the view.
#pragma once

#include <chrono>
#include <functional>

#include "view/symbols/pdb_reader.h"

namespace dormiscope::symbols {

// Generous: a PDB of hundreds of MB reads in seconds.
inline constexpr std::chrono::milliseconds kPdbReadingTimeLimit{60'000};

// `read` runs in the child. Its result comes back whole, or the outcome is
// kReaderFailed with why in `problem`.
PdbReading ReadPdbInChildProcess(const std::function<PdbReading()>& read,
                                 std::chrono::milliseconds time_limit = kPdbReadingTimeLimit);

}  // namespace dormiscope::symbols

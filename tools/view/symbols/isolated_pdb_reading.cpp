#include "view/symbols/isolated_pdb_reading.h"

#include "view/symbols/child_process.h"
#include "view/symbols/pdb_reading_message.h"

namespace dormiscope::symbols {

namespace {

// Far above the largest function table a real PDB gives (a few hundred MB
// for the biggest), far below what would exhaust the view's memory.
constexpr std::size_t kMessageLimit = std::size_t{1} << 30;

PdbReading ReaderFailed(std::string problem) {
    PdbReading reading;
    reading.outcome = PdbReading::Outcome::kReaderFailed;
    reading.problem = std::move(problem);
    return reading;
}

}  // namespace

PdbReading ReadPdbInChildProcess(const std::function<PdbReading()>& read, std::chrono::milliseconds time_limit) {
    ChildProcessResult child =
        RunInChildProcess([&read] { return EncodePdbReading(read()); }, time_limit, kMessageLimit);
    if (!child.finished) {
        return ReaderFailed("its reading process " + child.failure);
    }
    std::optional<PdbReading> reading = DecodePdbReading(child.output);
    if (!reading) {
        return ReaderFailed("its reading process sent a malformed result");
    }
    return std::move(*reading);
}

}  // namespace dormiscope::symbols

// Reads PDBs in a child process (fork), so that a file that breaks LLVM's
// reader (a crash, memory corrupted inside the reader, an endless loop) costs
// only that PDB's names, never the view. One child serves reading after
// reading, since starting a process costs milliseconds; it is replaced after
// a reading that met damage, whose memory is no longer trusted, and after
// any failure. The child ends with the thread that started it, so a killed
// view leaves none behind; the view reads from its one thread. Linux only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "view/symbols/pdb_reader.h"
#include "view/symbols/pdb_reading_message.h"

namespace dormiscope::symbols {

// Per reading; generous: a PDB of hundreds of MB reads in seconds.
inline constexpr std::chrono::milliseconds kPdbReadingTimeLimit{60'000};

class PdbReadingProcess {
public:
    using ReadFunction = std::function<PdbReading(const PdbReadingRequest&)>;

    // `read` runs only in the child, with the default action for the signals
    // that report a crash; an exception from it ends the child.
    explicit PdbReadingProcess(ReadFunction read, std::chrono::milliseconds time_limit = kPdbReadingTimeLimit);
    ~PdbReadingProcess();
    PdbReadingProcess(const PdbReadingProcess&) = delete;
    PdbReadingProcess& operator=(const PdbReadingProcess&) = delete;

    // The child's reading, whole, or kReaderFailed with why in `problem`:
    // the child crashed, was stopped at the time limit, exited or answered
    // garbage. A child that had served earlier readings gets a fresh
    // successor to try again, so an earlier file's damage is not blamed on
    // this one.
    PdbReading Read(const PdbReadingRequest& request);

private:
    bool Start(std::string& failure);
    void Stop();
    // Null, with the child stopped and why in `failure`, when the child failed.
    std::optional<PdbReading> Exchange(const std::string& request, std::string& failure);

    ReadFunction read_;
    std::chrono::milliseconds time_limit_;
    pid_t child_ = -1;
    int channel_ = -1;
    int readings_served_ = 0;  // by the current child
};

}  // namespace dormiscope::symbols

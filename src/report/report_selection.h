// Which threads the report writes, in which order: processes by their smallest
// significant period, threads likewise, and of the threads of one process only
// the first with each largest significant period. The report writer and every
// other view of the periodicity take the choice from here.
#pragma once

#include <vector>

#include "model/trace_model.h"

namespace dormiscope {

enum class ReportVerdict {
    kNotPeriodic,            // no histogram or no significant period: not written
    kRepeatsLargestPeriod,   // an earlier thread of its process has the same largest period: not written
    kWritten,
};

struct ThreadVerdict {
    const ThreadEntry* thread;
    ReportVerdict verdict;
};

struct ProcessSelection {
    const ProcessEntry* process;
    std::vector<ThreadVerdict> threads;  // every thread of the process, in report order
};

// Every process of the model in report order, with a verdict for each thread.
std::vector<ProcessSelection> SelectReportedThreads(const TraceModel& model);

}  // namespace dormiscope

// The JSON report: every process with a periodic thread, each reported thread
// with its periodicity and its histogram of period classes.
#pragma once

#include <ostream>

#include "model/trace_model.h"

namespace dormiscope {

// Writes the whole document; every line ends with CR LF and a flush. The caller
// opens the stream (in binary mode) and checks it afterwards.
std::wostream& WriteReport(std::wostream& out, const TraceModel& model);

}  // namespace dormiscope

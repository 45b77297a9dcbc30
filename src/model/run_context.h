// The one state object of a run.
#pragma once

#include <cstdint>
#include <string>

#include "model/trace_model.h"

namespace dormiscope {

struct RunContext {
    std::wstring input_path;
    std::wstring output_path;
    TraceModel model;
    std::uint64_t trace_duration = 0;
    std::wstring log_level;
};

}  // namespace dormiscope

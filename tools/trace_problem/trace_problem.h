// Why a trace could not be read, in words a person can act on; etwdump and
// the wake view print it after the trace's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dormiscope {

// Why the trace at `path` does not open: "no such file", "a directory",
// "cannot be read (…)" or "not a trace file"; nothing when it opens.
std::optional<std::string> WhyTraceDoesNotOpen(const std::wstring& path);

// What stopped this thread's last reading of an opened trace with `status`:
// "damaged at offset N (why)" where the reader knows the place, else the code.
std::string WhyTraceReadingFailed(std::uint32_t status);

}  // namespace dormiscope

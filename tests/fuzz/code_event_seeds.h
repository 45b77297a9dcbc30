// Seeds for the readers of the events that say which code runs: every Image,
// image identity, StackWalk, DPC and interrupt form the readers know, at both
// pointer sizes, whole stacks and cached ones of 0, 1, 192 and more than 192
// addresses, and events cut short; and every timer-resolution layout with
// hostile counts beside them. The same events seed both fuzz targets:
// as a trace for the trace reader, one at a time for the decoding plans.
#pragma once

#include <filesystem>

namespace dormiscope::fuzz {

// `trace_corpus` gets code-events-32.seed and code-events-64.seed;
// `record_plan_corpus` one file per event, in the decoding-plan target's
// input form.
void WriteCodeEventSeeds(const std::filesystem::path& trace_corpus, const std::filesystem::path& record_plan_corpus);

}  // namespace dormiscope::fuzz

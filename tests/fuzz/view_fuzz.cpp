// Feeds arbitrary bytes as a trace file through the wake view's steps, as
// the program takes them without symbols: both passes with the collector,
// the periodicity, the figures and the JSON document.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/periodic_disturbances.h"
#include "etw/record_layout.h"
#include "model/run_context.h"
#include "view/collect/build_figures.h"
#include "view/collect/wake_pass.h"
#include "view/export/folded_stacks.h"
#include "view/export/thread_table_csv.h"
#include "view/json/wakes_json.h"
#include "view/page/flame_data.h"
#include "view/stacks/frame_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int descriptor = memfd_create("trace", MFD_CLOEXEC);
    static const std::wstring path = L"/proc/self/fd/" + std::to_wstring(descriptor);
    // Overwritten, then cut to size: pages the last input also had are kept.
    if (descriptor < 0 || pwrite(descriptor, data, size, 0) != static_cast<ssize_t>(size) ||
        ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
        return 0;
    }
    // Each input teaches its own decoding plans: one found failing fails again alone.
    dormiscope::ForgetDecodingPlans();
    dormiscope::RunContext run;
    run.input_path = path;
    dormiscope::view::WakeReading reading = dormiscope::view::ReadWakes(run);
    if (reading.status != 0 || reading.refusal || run.model.ThreadList.empty()) {
        return 0;
    }
    dormiscope::ComputePeriodicDisturbances(run.model.ThreadList);
    dormiscope::ModuleOffsetNames frame_names;
    const dormiscope::view::TraceFigures figures =
        dormiscope::view::BuildFigures(run.model, reading.duration, reading, frame_names);
    const std::string json = dormiscope::view::WakesJson(figures);
    if (json.empty()) {
        __builtin_trap();
    }
    // The exports and the flame graphs' stacks index the figures' frames.
    const std::string flame = dormiscope::view::FlameData(figures);
    const std::string folded = dormiscope::view::FoldedStacks(figures, {true, true});
    const std::string csv = dormiscope::view::ThreadTableCsv(figures);
    if (flame.empty() || csv.empty()) {
        __builtin_trap();
    }
    return 0;
}

// etwdump [--summary] <file.etl>
//
// Prints every event the trace consumer delivers for the file as one JSON
// object per line, or with --summary one JSON object with the logfile header
// and the event counts. It uses only the consumer and Trace Data Helper
// functions, so it shows exactly what the analysis sees, on any system.
#include <cstdio>
#include <string>
#include <vector>

#include "etwdump/event_json.h"
#include "etwdump/trace_summary.h"
#include "platform/etw_api.h"
#include "platform/system/native_text.h"

namespace {

using dormiscope::etwdump::EventJsonWriter;
using dormiscope::etwdump::TraceSummary;

constexpr int kUsageError = 2;

struct DumpState {
    bool summary_only = false;
    EventJsonWriter writer;
    TraceSummary summary;
    std::string line;
};

void WINAPI OnEvent(PEVENT_RECORD event) {
    auto& state = *static_cast<DumpState*>(event->UserContext);
    state.summary.Add(*event);
    if (state.summary_only) {
        return;
    }
    state.line.clear();
    state.writer.Append(state.line, *event);
    state.line += '\n';
    std::fwrite(state.line.data(), 1, state.line.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::wstring> arguments = dormiscope::CommandLineArguments(argc, argv);
    DumpState state;
    std::wstring path;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        if (arguments[index] == L"--summary" && !state.summary_only) {
            state.summary_only = true;
        } else if (path.empty() && !arguments[index].empty() && arguments[index][0] != L'-') {
            path = arguments[index];
        } else {
            path.clear();
            break;
        }
    }
    if (path.empty()) {
        std::fputs("usage: etwdump [--summary] <file.etl>\n", stderr);
        return kUsageError;
    }

    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = path.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = OnEvent;
    logfile.Context = &state;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        std::fprintf(stderr, "etwdump: the trace cannot be opened (error %lu)\n",
                     static_cast<unsigned long>(ERROR_INVALID_HANDLE));
        return static_cast<int>(ERROR_INVALID_HANDLE);
    }
    const ULONG status = ProcessTrace(&handle, 1, nullptr, nullptr);
    CloseTrace(handle);
    std::fflush(stdout);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "etwdump: processing the trace failed (error %lu)\n", static_cast<unsigned long>(status));
        return static_cast<int>(status);
    }
    if (state.summary_only) {
        std::puts(state.summary.ToJson(logfile.LogfileHeader).c_str());
    }
    return 0;
}

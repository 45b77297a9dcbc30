// etwdump [--summary | --table] <file.etl>
//
// Prints every event the trace consumer delivers for the file as one JSON
// object per line; with --summary one JSON object with the logfile header and
// the event counts, with --table the same for people. It uses only the
// consumer and Trace Data Helper functions, so it shows exactly what the
// analysis sees, on any system.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "etwdump/event_json.h"
#include "etwdump/trace_summary.h"
#include "platform/etw_api.h"
#include "platform/system/native_text.h"
#include "platform/system/same_file.h"
#include "trace_problem/trace_problem.h"
#include "version/version.h"

namespace {

using dormiscope::etwdump::EventJsonWriter;
using dormiscope::etwdump::TraceSummary;

constexpr int kUsageError = 2;

constexpr const char* kUsage = "usage: etwdump [--summary | --table] <file.etl>\n";
constexpr const char* kHelp =
    "usage: etwdump [--summary | --table] <file.etl>\n"
    "       etwdump --help | --version\n"
    "\n"
    "Prints every event of a trace file as one JSON object per line.\n"
    "  --summary  one JSON object: the logfile header, the buffers read and the\n"
    "             count of every event class\n"
    "  --table    the same as a table: one line per event class with its name\n"
    "Switches ignore letter case. Standard output may not be the trace itself.\n"
    "\n"
    "Exit codes: 0 printed; 2 command line refused; 6 the trace does not open;\n"
    "another Windows error code when reading it failed (1392: damaged).\n";

enum class Output { kEvents, kSummary, kTable };

struct DumpState {
    Output output = Output::kEvents;
    EventJsonWriter writer;
    TraceSummary summary;
    std::string line;
};

// ASCII letters only, whatever the locale, as dormiscope compares its switches.
bool IsSwitch(const std::wstring& argument, std::wstring_view name) {
    return std::equal(argument.begin(), argument.end(), name.begin(), name.end(), [](wchar_t given, wchar_t wanted) {
        return (given >= L'A' && given <= L'Z' ? given - L'A' + L'a' : given) == wanted;
    });
}

void WINAPI OnEvent(PEVENT_RECORD event) {
    auto& state = *static_cast<DumpState*>(event->UserContext);
    state.summary.Add(*event);
    if (state.output != Output::kEvents) {
        return;
    }
    state.line.clear();
    state.writer.Append(state.line, *event);
    state.line += '\n';
    std::fwrite(state.line.data(), 1, state.line.size(), stdout);
}

int Dump(const std::wstring& path, DumpState& state) {
    const std::string shown = dormiscope::PathFromWide(path).string();
    // Appending to the trace (a `>>` redirection) would damage it; `>` has emptied it already.
    if (dormiscope::StandardOutputIsFile(dormiscope::PathFromWide(path))) {
        std::fprintf(stderr, "etwdump: standard output is the trace %s itself; redirect it elsewhere\n",
                     shown.c_str());
        return kUsageError;
    }
    EVENT_TRACE_LOGFILEW logfile{};
    std::wstring name = path;
    logfile.LogFileName = name.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = OnEvent;
    logfile.Context = &state;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        const std::optional<std::string> why = dormiscope::WhyTraceDoesNotOpen(path);
        std::fprintf(stderr, "etwdump: cannot read the trace %s: %s\n", shown.c_str(),
                     why ? why->c_str() : "it does not open");
        return static_cast<int>(ERROR_INVALID_HANDLE);
    }
    const ULONG status = ProcessTrace(&handle, 1, nullptr, nullptr);
    const std::string why_failed = status != ERROR_SUCCESS ? dormiscope::WhyTraceReadingFailed(status) : "";
    CloseTrace(handle);
    std::fflush(stdout);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "etwdump: cannot read the trace %s: %s\n", shown.c_str(), why_failed.c_str());
        return static_cast<int>(status);
    }
    if (state.output == Output::kSummary) {
        std::puts(state.summary.ToJson(logfile.LogfileHeader, logfile.BuffersRead).c_str());
    } else if (state.output == Output::kTable) {
        std::fputs(state.summary.ToTable(logfile.LogfileHeader, logfile.BuffersRead).c_str(), stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::wstring> arguments = dormiscope::CommandLineArguments(argc, argv);
    if (arguments.size() == 2 && (IsSwitch(arguments[1], L"--help") || IsSwitch(arguments[1], L"-h"))) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (arguments.size() == 2 && IsSwitch(arguments[1], L"--version")) {
        std::printf("etwdump %s\n", dormiscope::kVersion);
        return 0;
    }
    DumpState state;
    std::wstring path;
    std::string problem;
    for (std::size_t index = 1; index < arguments.size() && problem.empty(); ++index) {
        const std::wstring& argument = arguments[index];
        const std::string shown = dormiscope::PathFromWide(argument).string();
        const bool summary = IsSwitch(argument, L"--summary");
        if (summary || IsSwitch(argument, L"--table")) {
            const Output asked = summary ? Output::kSummary : Output::kTable;
            if (state.output == asked) {
                problem = shown + " given twice";
            } else if (state.output != Output::kEvents) {
                problem = "--summary and --table exclude each other";
            }
            state.output = asked;
        } else if (IsSwitch(argument, L"--help") || IsSwitch(argument, L"-h") || IsSwitch(argument, L"--version")) {
            problem = shown + " goes alone";
        } else if (argument.starts_with(L'-')) {
            problem = "unknown switch " + shown;
        } else if (!path.empty()) {
            problem = "stray argument " + shown;
        } else if (argument.empty()) {
            problem = "the trace's name is empty";
        } else {
            path = argument;
        }
    }
    if (problem.empty() && path.empty()) {
        problem = "no trace given";
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "etwdump: %s\n", problem.c_str());
        std::fputs(kUsage, stderr);
        return kUsageError;
    }
    return Dump(path, state);
}

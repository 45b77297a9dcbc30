// dormiscope-view: who wakes the machine, how often and from which idle
// state, as one HTML page (and, if asked, the same figures as JSON).
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/periodic_disturbances.h"
#include "model/run_context.h"
#include "platform/system/native_text.h"
#include "platform/system/same_file.h"
#include "trace_problem/trace_problem.h"
#include "version/version.h"
#include "view/collect/build_figures.h"
#include "view/collect/wake_pass.h"
#include "view/export/folded_stacks.h"
#include "view/export/thread_table_csv.h"
#include "view/json/wakes_json.h"
#include "view/page/flame_data.h"
#include "view/page/wakes_page.h"
#include "view/program/output_file.h"
#include "view/program/symbol_setup.h"
#include "view/program/view_options.h"

namespace {

using namespace dormiscope;
using namespace dormiscope::view;

constexpr int kExitUsage = 2;
constexpr int kExitTrace = 3;
constexpr int kExitOutput = 4;

std::string Shown(const std::wstring& path) {
    return PathFromWide(path).string();
}

struct Output {
    const std::wstring* path;  // empty: not asked for
    const std::string* text;
};

// Writes every requested file to its temporary name first, and renames them
// only when all were written, so no half-written page is left as the result.
int WriteOutputs(const std::vector<Output>& outputs) {
    std::vector<std::pair<const std::wstring*, std::unique_ptr<OutputFile>>> files;
    const auto fail = [](const std::wstring& path, const OutputFile& file) {
        std::fprintf(stderr, "dormiscope-view: cannot write %s: %s\n", Shown(path).c_str(), file.error().c_str());
        return kExitOutput;
    };
    for (const Output& output : outputs) {
        if (output.path->empty()) {
            continue;
        }
        files.emplace_back(output.path, std::make_unique<OutputFile>(PathFromWide(*output.path)));
        if (!files.back().second->Write(*output.text)) {
            return fail(*output.path, *files.back().second);
        }
    }
    for (const auto& [path, file] : files) {
        if (!file->Commit()) {
            return fail(*path, *file);
        }
    }
    return 0;
}

// One line of ours on standard error; texts from the trace or a PDB may hold
// line ends of their own.
void PrintLine(std::string text) {
    for (char& character : text) {
        if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) {
            character = ' ';
        }
    }
    std::fprintf(stderr, "dormiscope-view: %s\n", text.c_str());
}

// Neither output may replace the trace: the page is renamed over its path.
bool NamesTheTrace(const std::wstring& output, const ViewOptions& options) {
    return !output.empty() && IsSameFile(PathFromWide(output), PathFromWide(options.trace_path));
}

int RunView(const std::vector<std::wstring>& arguments) {
    const ViewCommandLine command_line = ParseViewOptions(arguments);
    if (!command_line.options) {
        PrintLine(command_line.problem);
        std::fputs(kViewUsage, stderr);
        return kExitUsage;
    }
    const std::optional<ViewOptions>& options = command_line.options;
    if (options->request == ViewOptions::Request::kHelp) {
        std::fputs(kViewHelp, stdout);
        return 0;
    }
    if (options->request == ViewOptions::Request::kVersion) {
        std::printf("dormiscope-view %s\n", kVersion);
        return 0;
    }
    for (const std::wstring* output :
         {&options->page_path, &options->json_path, &options->folded_path, &options->csv_path}) {
        if (NamesTheTrace(*output, *options)) {
            std::fprintf(stderr, "dormiscope-view: %s is the trace itself; write the output elsewhere\n",
                         Shown(*output).c_str());
            return kExitUsage;
        }
    }
    std::vector<std::filesystem::path> symbol_folders;
    for (const std::wstring& folder : options->symbol_folders) {
        symbol_folders.push_back(PathFromWide(folder));
    }
    SymbolSetup symbol_setup = SetUpSymbols(symbol_folders, std::getenv("_NT_SYMBOL_PATH"));
    if (symbol_setup.refusal) {
        PrintLine(*symbol_setup.refusal);
        return kExitUsage;
    }
    for (const std::string& notice : symbol_setup.notices) {
        PrintLine(notice);
    }
    const std::string trace_name = Shown(options->trace_path);
    if (const std::optional<std::string> why = WhyTraceDoesNotOpen(options->trace_path)) {
        std::fprintf(stderr, "dormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(), why->c_str());
        return kExitTrace;
    }
    RunContext run;
    run.input_path = options->trace_path;
    WakeReading reading = ReadWakes(run);
    if (reading.status != 0) {
        // The trace reader has already printed the failing operation's code.
        std::fprintf(stderr, "\ndormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(),
                     WhyTraceReadingFailed(reading.status).c_str());
        return kExitTrace;
    }
    if (reading.refusal) {
        std::fprintf(stderr, "dormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(),
                     reading.refusal->c_str());
        return kExitTrace;
    }
    if (run.model.ThreadList.empty()) {
        std::fprintf(stderr, "dormiscope-view: the trace %s holds no thread to show\n", trace_name.c_str());
        return kExitTrace;
    }
    ComputePeriodicDisturbances(run.model.ThreadList);
    ModuleOffsetNames module_offsets;
    FrameNames& frame_names = symbol_setup.names ? *symbol_setup.names : static_cast<FrameNames&>(module_offsets);
    TraceFigures figures = BuildFigures(run.model, reading.duration, reading, frame_names);
    const std::string json = WakesJson(figures);
    const std::string flame = FlameData(figures);
    const std::string folded = options->folded_path.empty()
                                   ? std::string()
                                   : FoldedStacks(figures, {options->folded_idle, options->folded_off_wake});
    const std::string csv = options->csv_path.empty() ? std::string() : ThreadTableCsv(figures);
    if (symbol_setup.names) {
        for (const std::string& warning : symbol_setup.names->warnings()) {
            PrintLine(warning);
        }
        figures.summary_notes.push_back(symbols::SymbolSummaryLine(*figures.symbols));
    }
    const std::string page =
        WakesPage(figures, json, flame, PathFromWide(options->trace_path).filename().string());
    // The page last: it is the program's result, renamed only once the rest is in place.
    return WriteOutputs({{&options->json_path, &json},
                         {&options->folded_path, &folded},
                         {&options->csv_path, &csv},
                         {&options->page_path, &page}});
}

}  // namespace

int main(int argc, char** argv) {
    // Arguments arrive in the user's multibyte encoding; nothing else depends on the locale.
    std::setlocale(LC_CTYPE, "");
    return RunView(dormiscope::CommandLineArguments(argc, argv));
}

// dormiscope-view: who wakes the machine, how often and from which idle
// state, as one HTML page (and, if asked, the same figures as JSON); or two
// recordings compared; either held to a budget.
#include <array>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
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
#include "view/compare/comparison.h"
#include "view/export/folded_stacks.h"
#include "view/export/thread_table_csv.h"
#include "view/json/budget_reader.h"
#include "view/json/comparison_json.h"
#include "view/json/wakes_document_reader.h"
#include "view/json/wakes_json.h"
#include "view/page/comparison_page.h"
#include "view/page/flame_data.h"
#include "view/page/wakes_page.h"
#include "view/program/input_file.h"
#include "view/program/output_file.h"
#include "view/program/symbol_setup.h"
#include "view/program/view_options.h"

namespace {

using namespace dormiscope;
using namespace dormiscope::view;

constexpr int kExitUsage = 2;
constexpr int kExitTrace = 3;
constexpr int kExitOutput = 4;
constexpr int kExitBudget = 5;

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

// Where the figures of one input come from, and the exit code when they could not be had.
struct Side {
    std::optional<TraceFigures> figures;
    int exit = 0;
};

// Each trace gets its own symbol setup, so that each side's symbol summary is its own.
SymbolSetup NewSymbolSetup(const ViewOptions& options) {
    std::vector<std::filesystem::path> symbol_folders;
    for (const std::wstring& folder : options.symbol_folders) {
        symbol_folders.push_back(PathFromWide(folder));
    }
    return SetUpSymbols(symbol_folders, std::getenv("_NT_SYMBOL_PATH"));
}

Side ReadTrace(const std::wstring& path, SymbolSetup symbol_setup) {
    const std::string trace_name = Shown(path);
    if (const std::optional<std::string> why = WhyTraceDoesNotOpen(path)) {
        std::fprintf(stderr, "dormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(), why->c_str());
        return {std::nullopt, kExitTrace};
    }
    RunContext run;
    run.input_path = path;
    WakeReading reading = ReadWakes(run);
    if (reading.status != 0) {
        // The trace reader has already printed the failing operation's code.
        std::fprintf(stderr, "\ndormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(),
                     WhyTraceReadingFailed(reading.status).c_str());
        return {std::nullopt, kExitTrace};
    }
    if (reading.refusal) {
        std::fprintf(stderr, "dormiscope-view: cannot read the trace %s: %s\n", trace_name.c_str(),
                     reading.refusal->c_str());
        return {std::nullopt, kExitTrace};
    }
    if (run.model.ThreadList.empty()) {
        std::fprintf(stderr, "dormiscope-view: the trace %s holds no thread to show\n", trace_name.c_str());
        return {std::nullopt, kExitTrace};
    }
    ComputePeriodicDisturbances(run.model.ThreadList);
    ModuleOffsetNames module_offsets;
    FrameNames& frame_names = symbol_setup.names ? *symbol_setup.names : static_cast<FrameNames&>(module_offsets);
    TraceFigures figures = BuildFigures(run.model, reading.duration, reading, frame_names);
    if (symbol_setup.names) {
        for (const std::string& warning : symbol_setup.names->warnings()) {
            PrintLine(warning);
        }
    }
    return {std::move(figures), 0};
}

// A wakes document's figures; its refusal is said, not printed, since it may
// be read on a thread of its own.
struct DocumentSide {
    std::optional<TraceFigures> figures;
    std::string refusal;
};

DocumentSide ReadDocument(const std::wstring& path) {
    std::string error;
    const std::optional<std::string> text = ReadWholeFile(PathFromWide(path), error);
    if (!text) {
        return {std::nullopt, error};
    }
    WakesDocument document = ReadWakesDocument(*text);
    return {std::move(document.figures), std::move(document.refusal)};
}

// The budget file, or the exit code after its refusal was said.
struct BudgetFile {
    std::optional<Budget> budget;
    int exit = 0;
};

BudgetFile ReadBudgetFile(const ViewOptions& options) {
    if (options.budget_path.empty()) {
        return {};
    }
    const std::string name = Shown(options.budget_path);
    std::string error;
    const std::optional<std::string> text = ReadWholeFile(PathFromWide(options.budget_path), error);
    if (!text) {
        std::fprintf(stderr, "dormiscope-view: cannot read the budget %s: %s\n", name.c_str(), error.c_str());
        return {std::nullopt, kExitUsage};
    }
    BudgetReading reading = ReadBudget(*text);
    if (!reading.budget) {
        PrintLine("the budget " + name + " is refused: " + reading.refusal);
        return {std::nullopt, kExitUsage};
    }
    if (reading.budget->max_increase_percent && !options.comparing()) {
        PrintLine("the budget " + name + " is refused: max_increase_percent: holds only with --compare");
        return {std::nullopt, kExitUsage};
    }
    return {std::move(reading.budget), 0};
}

// Standard error's lines for the rules broken; the exit code once the files are written.
int BudgetExit(const std::optional<std::vector<BrokenRule>>& broken_rules) {
    if (!broken_rules || broken_rules->empty()) {
        return 0;
    }
    for (const BrokenRule& broken : *broken_rules) {
        PrintLine(BrokenRuleLine(broken));
    }
    return kExitBudget;
}

int WriteAndHoldBudget(const std::vector<Output>& outputs, const std::optional<std::vector<BrokenRule>>& broken_rules) {
    if (const int written = WriteOutputs(outputs); written != 0) {
        return written;
    }
    return BudgetExit(broken_rules);
}

int RunSingleView(const ViewOptions& options, SymbolSetup symbol_setup, const std::optional<Budget>& budget) {
    const bool symbols = symbol_setup.names != nullptr;
    Side side = ReadTrace(options.trace_path, std::move(symbol_setup));
    if (!side.figures) {
        return side.exit;
    }
    TraceFigures& figures = *side.figures;
    const std::string json = WakesJson(figures);
    const std::string flame = FlameData(figures);
    const std::string folded = options.folded_path.empty()
                                   ? std::string()
                                   : FoldedStacks(figures, {options.folded_idle, options.folded_off_wake});
    const std::string csv = options.csv_path.empty() ? std::string() : ThreadTableCsv(figures);
    if (symbols) {
        figures.summary_notes.push_back(symbols::SymbolSummaryLine(*figures.symbols));
    }
    std::optional<std::vector<BrokenRule>> broken_rules;
    if (budget) {
        broken_rules = BrokenRules(*budget, figures);
    }
    const std::string page =
        WakesPage(figures, json, flame, PathFromWide(options.trace_path).filename().string(), broken_rules);
    // The page last: it is the program's result, renamed only once the rest is in place.
    return WriteAndHoldBudget({{&options.json_path, &json},
                               {&options.folded_path, &folded},
                               {&options.csv_path, &csv},
                               {&options.page_path, &page}},
                              broken_rules);
}

// Both sides: a document is read on a thread of its own while a trace is read,
// so that comparing a stored document with a trace costs about what viewing the
// trace does. Traces are read one after the other.
int RunComparison(const ViewOptions& options, const std::optional<Budget>& budget) {
    const std::array<const std::wstring*, 2> paths = {&options.before_path, &options.after_path};
    std::array<InputForm, 2> forms{};
    for (std::size_t index = 0; index < paths.size(); ++index) {
        const InputFile input = InputFileAt(PathFromWide(*paths[index]));
        if (!input.form) {
            std::fprintf(stderr, "dormiscope-view: cannot read %s: %s\n", Shown(*paths[index]).c_str(),
                         input.error.c_str());
            return kExitTrace;
        }
        forms[index] = *input.form;
    }
    std::array<std::future<DocumentSide>, 2> documents;
    for (std::size_t index = 0; index < paths.size(); ++index) {
        if (forms[index] == InputForm::kDocument) {
            documents[index] = std::async(std::launch::async, ReadDocument, *paths[index]);
        }
    }
    std::array<std::optional<TraceFigures>, 2> figures;
    for (std::size_t index = 0; index < paths.size(); ++index) {
        if (forms[index] == InputForm::kTrace) {
            Side side = ReadTrace(*paths[index], NewSymbolSetup(options));
            if (!side.figures) {
                return side.exit;
            }
            figures[index] = std::move(side.figures);
        }
    }
    for (std::size_t index = 0; index < paths.size(); ++index) {
        if (forms[index] == InputForm::kDocument) {
            DocumentSide document = documents[index].get();
            if (!document.figures) {
                PrintLine("cannot read the document " + Shown(*paths[index]) + ": " + document.refusal);
                return kExitTrace;
            }
            figures[index] = std::move(document.figures);
        }
    }
    const Comparison comparison = CompareFigures(*figures[0], *figures[1]);
    const std::string json = ComparisonJson(comparison);
    std::optional<std::vector<BrokenRule>> broken_rules;
    if (budget) {
        broken_rules = BrokenRules(*budget, *figures[1]);
        for (BrokenRule& broken : BrokenRules(*budget, comparison)) {
            broken_rules->push_back(std::move(broken));
        }
    }
    const std::string page =
        ComparisonPage(comparison, json, PathFromWide(options.before_path).filename().string(),
                       PathFromWide(options.after_path).filename().string(), broken_rules);
    return WriteAndHoldBudget({{&options.json_path, &json}, {&options.page_path, &page}}, broken_rules);
}

// No output may replace an input (the page is renamed over its path): the
// input it names, if any.
const std::wstring* InputNamed(const std::wstring& output, const ViewOptions& options) {
    if (output.empty()) {
        return nullptr;
    }
    for (const std::wstring* input :
         {&options.trace_path, &options.before_path, &options.after_path, &options.budget_path}) {
        if (!input->empty() && IsSameFile(PathFromWide(output), PathFromWide(*input))) {
            return input;
        }
    }
    return nullptr;
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
        if (const std::wstring* input = InputNamed(*output, *options)) {
            std::fprintf(stderr, "dormiscope-view: %s is %s itself; write the output elsewhere\n",
                         Shown(*output).c_str(), input == &options->trace_path    ? "the trace"
                         : input == &options->budget_path ? "the budget"
                                                          : "a side of the comparison");
            return kExitUsage;
        }
    }
    SymbolSetup symbol_setup = NewSymbolSetup(*options);
    if (symbol_setup.refusal) {
        PrintLine(*symbol_setup.refusal);
        return kExitUsage;
    }
    for (const std::string& notice : symbol_setup.notices) {
        PrintLine(notice);
    }
    const BudgetFile budget = ReadBudgetFile(*options);
    if (budget.exit != 0) {
        return budget.exit;
    }
    if (options->comparing()) {
        return RunComparison(*options, budget.budget);
    }
    return RunSingleView(*options, std::move(symbol_setup), budget.budget);
}

}  // namespace

int main(int argc, char** argv) {
    // Arguments arrive in the user's multibyte encoding; nothing else depends on the locale.
    std::setlocale(LC_CTYPE, "");
    return RunView(dormiscope::CommandLineArguments(argc, argv));
}

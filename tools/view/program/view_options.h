// The wake view's command line: -i trace.etl -o wakes.html [--json wakes.json]
// [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]
// [--symbols DIR]... [--budget FILE]; or --compare BEFORE AFTER in place of
// -i, without the exports; or --help (-h) or --version alone.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dormiscope::view {

struct ViewOptions {
    enum class Request { kRun, kHelp, kVersion };

    Request request = Request::kRun;
    std::wstring trace_path;   // empty when comparing
    std::wstring before_path;  // --compare's sides: a trace or a wakes document each
    std::wstring after_path;
    std::wstring page_path;
    std::wstring json_path;  // empty: no JSON document
    std::wstring folded_path;  // empty: no folded stacks
    bool folded_idle = false;
    bool folded_off_wake = false;
    std::wstring csv_path;  // empty: no thread table
    std::vector<std::wstring> symbol_folders;  // in the order given
    std::wstring budget_path;  // empty: no budget

    bool comparing() const { return !before_path.empty(); }
};

inline constexpr const char* kViewUsage =
    "usage: dormiscope-view -i trace.etl -o wakes.html [--json wakes.json] [--symbols DIR]... [--budget FILE]\n"
    "                       [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]\n"
    "       dormiscope-view --compare BEFORE AFTER -o compare.html [--json compare.json] [--symbols DIR]...\n"
    "                       [--budget FILE]\n";

inline constexpr const char* kViewHelp =
    "usage: dormiscope-view -i trace.etl -o wakes.html [--json wakes.json] [--symbols DIR]... [--budget FILE]\n"
    "                       [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]\n"
    "       dormiscope-view --compare BEFORE AFTER -o compare.html [--json compare.json] [--symbols DIR]...\n"
    "                       [--budget FILE]\n"
    "       dormiscope-view --help | --version\n"
    "\n"
    "Reads a kernel trace (.etl) and writes one HTML page of who wakes the machine,\n"
    "how often and from which idle state; --json writes the same figures for scripts.\n"
    "--symbols names code by function from the PDBs in DIR (a symbol store or a\n"
    "folder of .pdb files; may be repeated), searched before the local folders of\n"
    "_NT_SYMBOL_PATH. Symbol servers are never contacted.\n"
    "--folded writes the wait stacks in the folded format of flame-graph tools, one\n"
    "line per distinct stack weighted by wakes: --folded-idle weights by idle wakes,\n"
    "--folded-offwake puts the readying stack and the readier above each wait stack.\n"
    "--csv writes the thread table, one row per thread.\n"
    "--compare lines up two recordings, each a trace or a document written by\n"
    "--json, and writes the change per process and thread group, before to after.\n"
    "--budget holds the recording (or, comparing, the later one) to the limits of\n"
    "a JSON file and names each rule broken on standard error and on the page.\n"
    "Switches ignore letter case. No output may be an input.\n"
    "\n"
    "Exit codes: 0 written (and the budget kept); 2 command line or budget file\n"
    "refused; 3 a trace or document cannot be read; 4 a file cannot be written;\n"
    "5 written, and the budget broken.\n";

// The options, or what is wrong with the command line.
struct ViewCommandLine {
    std::optional<ViewOptions> options;
    std::string problem;  // without options: one line naming it, shown before the usage
};

// Refused: a switch unknown, repeated (but --symbols) or without its value
// (--compare takes two), a stray argument, -o missing, not exactly one of -i
// and --compare, --folded or --csv with --compare, or --folded-idle or
// --folded-offwake without --folded. --help, -h and --version count only as
// the one argument. Switches ignore ASCII letter case. Element 0 is the
// program path.
ViewCommandLine ParseViewOptions(const std::vector<std::wstring>& arguments);

}  // namespace dormiscope::view

// The wake view's command line: -i trace.etl -o wakes.html [--json wakes.json]
// [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]
// [--symbols DIR]..., or --help (-h) or --version alone.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dormiscope::view {

struct ViewOptions {
    enum class Request { kRun, kHelp, kVersion };

    Request request = Request::kRun;
    std::wstring trace_path;
    std::wstring page_path;
    std::wstring json_path;  // empty: no JSON document
    std::wstring folded_path;  // empty: no folded stacks
    bool folded_idle = false;
    bool folded_off_wake = false;
    std::wstring csv_path;  // empty: no thread table
    std::vector<std::wstring> symbol_folders;  // in the order given
};

inline constexpr const char* kViewUsage =
    "usage: dormiscope-view -i trace.etl -o wakes.html [--json wakes.json] [--symbols DIR]...\n"
    "                       [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]\n";

inline constexpr const char* kViewHelp =
    "usage: dormiscope-view -i trace.etl -o wakes.html [--json wakes.json] [--symbols DIR]...\n"
    "                       [--folded FILE [--folded-idle] [--folded-offwake]] [--csv FILE]\n"
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
    "Switches ignore letter case. No output may be the trace itself.\n"
    "\n"
    "Exit codes: 0 written; 2 command line refused; 3 the trace cannot be read;\n"
    "4 a file cannot be written.\n";

// The options, or what is wrong with the command line.
struct ViewCommandLine {
    std::optional<ViewOptions> options;
    std::string problem;  // without options: one line naming it, shown before the usage
};

// Refused: a switch unknown, repeated (but --symbols) or without its value, a
// stray argument, -i or -o missing, or --folded-idle or --folded-offwake
// without --folded. --help, -h and --version count only as
// the one argument. Switches ignore ASCII letter case. Element 0 is the
// program path.
ViewCommandLine ParseViewOptions(const std::vector<std::wstring>& arguments);

}  // namespace dormiscope::view

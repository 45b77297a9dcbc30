// Whether the view names code from PDBs, and where it looks for them: the
// --symbols folders first, then the local folders of _NT_SYMBOL_PATH. Symbol
// servers are never contacted.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "view/symbols/symbol_frame_names.h"

namespace dormiscope::view {

struct SymbolSetup {
    // Null: frames keep module+offset and the document has no symbol summary.
    std::unique_ptr<symbols::SymbolFrameNames> names;
    std::vector<std::string> notices;  // for standard error, one line each
    std::optional<std::string> refusal;  // a --symbols folder that is not a folder
};

using NewFrameNames =
    std::function<std::unique_ptr<symbols::SymbolFrameNames>(std::vector<std::filesystem::path> folders)>;

// `nt_symbol_path` is the variable's value, null when it is not set.
// `new_names` returns null in a build that cannot read PDBs; it is not
// called when neither --symbols nor the variable is given.
SymbolSetup SetUpSymbols(const std::vector<std::filesystem::path>& given, const char* nt_symbol_path,
                         const NewFrameNames& new_names = symbols::NewSymbolFrameNames);

}  // namespace dormiscope::view

// For builds without LLVM's PDB reader: frames keep their module+offset names.
#include "view/symbols/symbol_frame_names.h"

namespace dormiscope::symbols {

std::unique_ptr<SymbolFrameNames> NewSymbolFrameNames(std::vector<std::filesystem::path>) {
    return nullptr;
}

}  // namespace dormiscope::symbols

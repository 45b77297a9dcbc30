// Frame texts from the modules' PDBs: module!function+0x4c where the PDB the
// trace names for the module lies in one of the folders and names the
// function there, module+0x1a2b elsewhere. Each PDB is read once, on the
// first frame in its module.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "view/stacks/frame_names.h"

namespace dormiscope::symbols {

class SymbolFrameNames : public FrameNames {
public:
    // One line per PDB found but not used (unreadable, or another build's),
    // in the order met.
    virtual const std::vector<std::string>& warnings() const = 0;
};

// Null in a build that cannot read PDBs.
std::unique_ptr<SymbolFrameNames> NewSymbolFrameNames(std::vector<std::filesystem::path> folders);

}  // namespace dormiscope::symbols

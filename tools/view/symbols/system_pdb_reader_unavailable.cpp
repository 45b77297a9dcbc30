// For builds with neither LLVM's PDB reader nor DbgHelp: frames keep their
// module+offset names.
#include "view/symbols/pdb_reading.h"

namespace dormiscope::symbols {

ReadPdbFunction SystemPdbReader() {
    return {};
}

}  // namespace dormiscope::symbols

// The files that may be a module's PDB, in search order: in each folder the
// symbol-store layout (name.pdb/<GUID><AGE>/name.pdb) first, then the flat
// name.pdb. Names match regardless of case, since stores copied from Windows
// keep whatever case the tools wrote. Whether a candidate really is that PDB
// is for its reader to check.
#pragma once

#include <filesystem>
#include <vector>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

std::vector<std::filesystem::path> PdbCandidates(const std::vector<std::filesystem::path>& folders,
                                                 const PdbIdentity& identity);

}  // namespace dormiscope::symbols

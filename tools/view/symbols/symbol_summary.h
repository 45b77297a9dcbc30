// Which modules' PDBs were found, for the page and the JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

struct SymbolSummary {
    std::size_t modules = 0;               // distinct PDB identities asked for
    std::size_t modules_with_symbols = 0;  // of those, the ones whose PDB was read
    std::vector<PdbIdentity> missing;      // not found, another GUID or age only, or unreadable; in order asked
};

// "Symbols: 3 of 5 modules; missing: a.pdb {GUID} age 1, ..."
std::string SymbolSummaryLine(const SymbolSummary& summary);

}  // namespace dormiscope::symbols

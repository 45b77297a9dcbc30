// Which modules' PDBs were found, for the page and the JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

struct SymbolSummary {
    std::size_t modules = 0;               // distinct PDB identities asked for, and modules without one
    std::size_t modules_with_symbols = 0;  // of those, the ones whose PDB was read
    std::vector<PdbIdentity> missing;      // not found, or another GUID or age only; in order asked
    std::vector<PdbIdentity> unreadable;   // found, but it could not be read; in order asked
    std::vector<std::string> without_identity;  // modules the trace gives no PDB identity for, by file name
};

// "Symbols: 3 of 6 modules; missing: a.pdb {GUID} age 1, ...; unreadable: ...;
// no identity in the trace: ntoskrnl.exe, ..."
std::string SymbolSummaryLine(const SymbolSummary& summary);

}  // namespace dormiscope::symbols

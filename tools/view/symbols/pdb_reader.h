// Reads a PDB's functions with LLVM's native PDB reader, once its identity
// (GUID, and the age the image's debug directory records) is the one asked
// for.
#pragma once

#include <filesystem>
#include <string>

#include "view/symbols/function_table.h"
#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

struct PdbReading {
    enum class Outcome { kRead, kOtherIdentity, kUnreadable };
    Outcome outcome = Outcome::kUnreadable;
    std::string problem;  // why it could not be read
    FunctionTable functions;
};

PdbReading ReadPdb(const std::filesystem::path& file, const PdbIdentity& wanted);

}  // namespace dormiscope::symbols

// What reading one PDB gave, and the build's way of reading one: LLVM's
// reader in a child process on Linux, the system's DbgHelp on Windows.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "view/symbols/function_table.h"
#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

struct PdbReading {
    // kReaderFailed: the reading process crashed, hung or answered garbage
    // (only a reading in a child process ends so).
    enum class Outcome { kRead, kOtherIdentity, kUnreadable, kReaderFailed };
    Outcome outcome = Outcome::kUnreadable;
    std::string problem;  // why it could not be read
    PdbIdentity found;    // its GUID and age, once its headers were read (no name)
    FunctionTable functions;
};

// Reads `file`'s functions once its identity (GUID, and the age the image's
// debug directory records) is `wanted`.
using ReadPdbFunction = std::function<PdbReading(const std::filesystem::path& file, const PdbIdentity& wanted)>;

// Empty in a build that cannot read PDBs.
ReadPdbFunction SystemPdbReader();

}  // namespace dormiscope::symbols

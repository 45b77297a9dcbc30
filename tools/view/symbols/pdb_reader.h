// Reads a PDB's functions with LLVM's native PDB reader, once its identity
// (GUID, and the age the image's debug directory records) is the one asked
// for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
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

PdbReading ReadPdb(const std::filesystem::path& file, const PdbIdentity& wanted);

// The same from bytes in memory; `name` is for messages.
PdbReading ReadPdbBytes(std::span<const std::uint8_t> bytes, const std::string& name, const PdbIdentity& wanted);

}  // namespace dormiscope::symbols

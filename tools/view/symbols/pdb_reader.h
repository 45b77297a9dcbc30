// Reads a PDB's functions with LLVM's native PDB reader, once its identity
// (GUID, and the age the image's debug directory records) is the one asked
// for.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "view/symbols/pdb_reading.h"

namespace dormiscope::symbols {

PdbReading ReadPdb(const std::filesystem::path& file, const PdbIdentity& wanted);

// The same from bytes in memory; `name` is for messages.
PdbReading ReadPdbBytes(std::span<const std::uint8_t> bytes, const std::string& name, const PdbIdentity& wanted);

}  // namespace dormiscope::symbols

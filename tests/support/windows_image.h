// Real Windows images and their PDBs, made with Debian's clang for the
// Windows target (CodeView) and lld-link, for the symbol tests and bench.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::testing {

struct WindowsImage {
    std::filesystem::path image;
    std::filesystem::path pdb;
    std::filesystem::path map;  // the linker's map: where each function went
    symbols::PdbIdentity identity;  // as the image's debug directory records it
};

enum class PdbSymbols { kPrivate, kPublicOnly };
enum class Machine { kX64, kX86 };
enum class Language { kC, kCxx };

// Compiles the source `code` and links it into the DLL `folder/name.dll`
// with `folder/name.pdb`; every function in its own section, so the map
// gives each function's size. Throws with the tools' output when they fail.
WindowsImage BuildWindowsImage(const std::string& code, const std::filesystem::path& folder, const std::string& name,
                               PdbSymbols symbols, Machine machine = Machine::kX64, Language language = Language::kC);

// The PDB identity in the image's CodeView debug directory entry (RSDS).
std::optional<symbols::PdbIdentity> ReadImagePdbIdentity(const std::filesystem::path& image);

struct MappedFunction {
    std::string name;
    std::uint32_t start = 0;  // from the image base
    std::uint32_t size = 0;
};

// The functions of the image's code sections, from lld-link's map, by the
// linker's names (32-bit C names start with '_').
std::vector<MappedFunction> ReadMappedFunctions(const std::filesystem::path& map);

}  // namespace dormiscope::testing

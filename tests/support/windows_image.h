// Real Windows images and their PDBs, made with Debian's clang for the
// Windows target (CodeView) and lld-link, for the symbol tests and bench.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace dormiscope::testing

// A program of the sample built as a real image (from idle_program.c): the
// PDB identity its debug directory records, and where the functions the
// sample's stacks pass through lie in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::sample {

// Return addresses in a program's own code, from the image base: one inside
// each function a program's thread waits in or signals from.
struct ProgramFunctions {
    std::uint64_t timer_loop = 0;
    std::uint64_t event_loop = 0;
    std::uint64_t worker = 0;
    std::uint64_t notify = 0;  // called from the timer loop
};

struct ProgramImage {
    symbols::PdbIdentity identity;
    ProgramFunctions functions;
};

// The image `folder/file_name` with its linker's map beside it (the file's
// stem + ".map"); none when the folder holds no such image. Throws when the
// image is there but names no PDB, or its map lacks one of the functions.
std::optional<ProgramImage> ReadProgramImage(const std::filesystem::path& folder, const std::string& file_name);

}  // namespace dormiscope::sample

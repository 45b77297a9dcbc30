// Turns (module's PDB identity, offset from the image base) into function +
// offset. Each module's PDB is looked for and read once, on its first
// address, and each distinct address is looked up once.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "view/symbols/frame_text.h"
#include "view/symbols/function_table.h"
#include "view/symbols/pdb_identity.h"
#include "view/symbols/pdb_reading.h"
#include "view/symbols/symbol_summary.h"

namespace dormiscope::symbols {

class SymbolResolver {
public:
    // `read` must be callable: on Linux it reads in a child process, so a
    // file that crashes or hangs the reader costs that module's names, with
    // a warning, never the caller.
    explicit SymbolResolver(std::vector<std::filesystem::path> folders, ReadPdbFunction read = SystemPdbReader());

    // The function holding the address, or null when the module's PDB was
    // not found or names no function there. Valid as long as the resolver.
    const FunctionOffset* Resolve(const PdbIdentity& module, std::uint64_t module_offset);

    SymbolSummary Summary() const;

    // One line per PDB that could not be read, or was skipped as another
    // build's, in the order met.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    struct Module {
        PdbIdentity identity;
        std::optional<FunctionTable> functions;
        std::unordered_map<std::uint32_t, std::optional<FunctionOffset>> resolved;
        bool unreadable = false;  // a PDB of its identity was found but could not be read
    };
    using ModuleKey = std::tuple<std::array<std::uint8_t, 16>, std::uint32_t, std::string>;

    Module& ModuleFor(const PdbIdentity& identity);
    void LoadFunctions(Module& module);

    std::vector<std::filesystem::path> folders_;
    std::deque<Module> modules_;  // in order asked; never moved, so resolved names stay put
    std::map<ModuleKey, std::size_t> module_index_;
    std::vector<std::string> warnings_;
    ReadPdbFunction read_;
};

}  // namespace dormiscope::symbols

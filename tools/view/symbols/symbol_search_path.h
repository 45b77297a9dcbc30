// Where PDBs are looked for: the folders given on the command line, then the
// local folders of _NT_SYMBOL_PATH. Symbol servers are never contacted.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dormiscope::symbols {

struct NtSymbolPathPlaces {
    std::vector<std::filesystem::path> folders;
    // Servers and network shares the variable names, left out.
    std::vector<std::string> servers;
};

// Reads the variable's ';'-separated elements: "srv*DIR*https://…" and
// "symsrv*DLL*DIR*https://…" give their local stores, "cache*DIR" its folder,
// a plain element is a folder. Empty stores (the debugger's default) are
// skipped.
NtSymbolPathPlaces ReadNtSymbolPath(std::string_view value);

// The line to print when the variable names servers but no local folder.
std::optional<std::string> ServerOnlyNotice(const NtSymbolPathPlaces& places);

// The folders in search order: those given first, then the variable's.
std::vector<std::filesystem::path> SymbolFolders(const std::vector<std::filesystem::path>& given,
                                                 const NtSymbolPathPlaces& places);

}  // namespace dormiscope::symbols

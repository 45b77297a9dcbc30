#include "view/program/symbol_setup.h"

#include <system_error>

#include "view/symbols/symbol_search_path.h"

namespace dormiscope::view {
namespace {

bool IsFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// The variable's folders that are not there (it may have been written for
// another machine), taken out of the search; one line names them.
std::optional<std::string> DropAbsentFolders(symbols::NtSymbolPathPlaces& places) {
    std::string absent;
    std::size_t count = 0;
    std::erase_if(places.folders, [&](const std::filesystem::path& folder) {
        if (IsFolder(folder)) {
            return false;
        }
        absent += (count++ == 0 ? "" : ", ") + folder.string();
        return true;
    });
    if (count == 0) {
        return std::nullopt;
    }
    return "_NT_SYMBOL_PATH names " + std::string(count == 1 ? "a folder that does not" : "folders that do not") +
           " exist, left out: " + absent;
}

}  // namespace

SymbolSetup SetUpSymbols(const std::vector<std::filesystem::path>& given, const char* nt_symbol_path,
                         const NewFrameNames& new_names) {
    SymbolSetup setup;
    if (given.empty() && nt_symbol_path == nullptr) {
        return setup;
    }
    symbols::NtSymbolPathPlaces places =
        nt_symbol_path == nullptr ? symbols::NtSymbolPathPlaces{} : symbols::ReadNtSymbolPath(nt_symbol_path);
    const std::optional<std::string> absent_notice = DropAbsentFolders(places);
    const std::vector<std::filesystem::path> folders = symbols::SymbolFolders(given, places);
    // Asked before anything is said about the variable: it is commonly set for
    // other tools, so a build that reads no PDBs answers only --symbols.
    std::unique_ptr<symbols::SymbolFrameNames> names = new_names(folders);
    if (names == nullptr) {
        if (!given.empty()) {
            setup.notices.push_back("symbols are not available in this build; code is named module+offset");
        }
        return setup;
    }
    if (absent_notice) {
        setup.notices.push_back(*absent_notice);
    }
    if (folders.empty()) {
        std::optional<std::string> notice = symbols::ServerOnlyNotice(places);
        if (notice && !absent_notice) {
            setup.notices.push_back(std::move(*notice));
        }
        return setup;
    }
    for (const std::filesystem::path& folder : given) {
        if (!IsFolder(folder)) {
            setup.refusal = "--symbols " + folder.string() + " is not a folder";
            return setup;
        }
    }
    setup.names = std::move(names);
    return setup;
}

}  // namespace dormiscope::view

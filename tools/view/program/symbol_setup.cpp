#include "view/program/symbol_setup.h"

#include <system_error>

#include "view/symbols/symbol_search_path.h"

namespace dormiscope::view {

SymbolSetup SetUpSymbols(const std::vector<std::filesystem::path>& given, const char* nt_symbol_path,
                         const NewFrameNames& new_names) {
    SymbolSetup setup;
    if (given.empty() && nt_symbol_path == nullptr) {
        return setup;
    }
    const symbols::NtSymbolPathPlaces places =
        nt_symbol_path == nullptr ? symbols::NtSymbolPathPlaces{} : symbols::ReadNtSymbolPath(nt_symbol_path);
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
    if (folders.empty()) {
        if (std::optional<std::string> notice = symbols::ServerOnlyNotice(places)) {
            setup.notices.push_back(std::move(*notice));
        }
        return setup;
    }
    for (const std::filesystem::path& folder : given) {
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) {
            setup.refusal = "--symbols " + folder.string() + " is not a folder";
            return setup;
        }
    }
    setup.names = std::move(names);
    return setup;
}

}  // namespace dormiscope::view

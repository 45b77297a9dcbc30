#include "view/symbols/pdb_locator.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <system_error>

namespace dormiscope::symbols {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The child of `folder` called `name`, the exact spelling first.
std::optional<std::filesystem::path> FindChild(const std::filesystem::path& folder, const std::string& name) {
    std::error_code error;
    const std::filesystem::path exact = folder / name;
    if (std::filesystem::exists(exact, error)) {
        return exact;
    }
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (EqualNoCase(entry->path().filename().string(), name)) {
            return entry->path();
        }
    }
    return std::nullopt;
}

bool IsRegularFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// The recorded name comes from the trace: only a plain file name may be
// joined to a folder.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('\0') == std::string::npos;
}

}  // namespace

std::vector<std::filesystem::path> PdbCandidates(const std::vector<std::filesystem::path>& folders,
                                                 const PdbIdentity& identity) {
    const std::string name = PdbFileName(identity);
    std::vector<std::filesystem::path> candidates;
    if (!IsPlainFileName(name)) {
        return candidates;
    }
    const auto add = [&candidates](const std::optional<std::filesystem::path>& path) {
        if (path && IsRegularFile(*path) && std::find(candidates.begin(), candidates.end(), *path) == candidates.end()) {
            candidates.push_back(*path);
        }
    };
    const std::string key = SymbolStoreKey(identity);
    for (const std::filesystem::path& folder : folders) {
        if (const std::optional<std::filesystem::path> entry = FindChild(folder, name)) {
            if (const std::optional<std::filesystem::path> version = FindChild(*entry, key)) {
                add(FindChild(*version, name));
            }
            add(entry);
        }
    }
    return candidates;
}

}  // namespace dormiscope::symbols

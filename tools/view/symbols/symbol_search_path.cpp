#include "view/symbols/symbol_search_path.h"

#include <algorithm>
#include <cctype>

namespace dormiscope::symbols {

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// A URL or a network share. "\\?\" and "\\.\" start local paths too (long
// and device paths), unless what follows is "UNC\", a share.
bool IsRemote(std::string_view place) {
    if (StartsWithNoCase(place, "http://") || StartsWithNoCase(place, "https://")) {
        return true;
    }
    if (StartsWithNoCase(place, "\\\\?\\") || StartsWithNoCase(place, "\\\\.\\")) {
        return StartsWithNoCase(place.substr(4), "UNC\\");
    }
    return StartsWithNoCase(place, "\\\\");
}

void AddPlace(std::string_view place, NtSymbolPathPlaces& places) {
    place = Trimmed(place);
    if (place.empty()) {
        return;
    }
    if (IsRemote(place)) {
        places.servers.emplace_back(place);
    } else {
        places.folders.emplace_back(std::string(place));
    }
}

}  // namespace

NtSymbolPathPlaces ReadNtSymbolPath(std::string_view value) {
    NtSymbolPathPlaces places;
    for (std::string_view element : Split(value, ';')) {
        element = Trimmed(element);
        std::vector<std::string_view> parts = Split(element, '*');
        std::size_t first_place = 0;
        if (parts.size() > 1) {
            const std::string_view head = Trimmed(parts.front());
            const auto is = [head](std::string_view word) {
                return head.size() == word.size() && StartsWithNoCase(head, word);
            };
            if (is("srv") || is("cache")) {
                first_place = 1;
            } else if (is("symsrv")) {
                first_place = 2;  // the next part names the server DLL
            }
        }
        for (std::size_t index = first_place; index < parts.size(); ++index) {
            AddPlace(parts[index], places);
        }
    }
    return places;
}

std::optional<std::string> ServerOnlyNotice(const NtSymbolPathPlaces& places) {
    if (!places.folders.empty() || places.servers.empty()) {
        return std::nullopt;
    }
    std::string servers;
    for (const std::string& server : places.servers) {
        servers += (servers.empty() ? "" : ", ") + server;
    }
    return "_NT_SYMBOL_PATH names only symbol servers (" + servers +
           ") and no local folder; symbols are never downloaded, so give the folder the debugger caches them in "
           "with srv*DIR*... or --symbols DIR";
}

std::vector<std::filesystem::path> SymbolFolders(const std::vector<std::filesystem::path>& given,
                                                 const NtSymbolPathPlaces& places) {
    std::vector<std::filesystem::path> folders = given;
    folders.insert(folders.end(), places.folders.begin(), places.folders.end());
    return folders;
}

}  // namespace dormiscope::symbols

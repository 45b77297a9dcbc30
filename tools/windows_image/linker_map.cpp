#include "windows_image/linker_map.h"

#include <fstream>
#include <sstream>

namespace dormiscope::windows_image {

namespace {

bool IsHex(const std::string& text) {
    return !text.empty() && text.size() <= 8 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

}  // namespace

std::vector<MappedFunction> ReadMappedFunctions(const std::filesystem::path& map) {
    // Lines are "address size align name": an output section (".text"), an
    // input section ("x.obj:(.text)"), or a symbol at its input section's
    // start (C++ names demangled, with spaces).
    std::vector<MappedFunction> functions;
    std::ifstream lines(map);
    std::string line;
    bool in_code = false;
    std::uint32_t section_start = 0;
    std::uint32_t section_size = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, size, align, name;
        if (!(fields >> address >> size >> align) || !std::getline(fields >> std::ws, name) || name.empty() ||
            !IsHex(address) || !IsHex(size)) {
            continue;
        }
        const auto start = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
        // An object's path may start with '.' too.
        if (name.find(":(") != std::string::npos) {
            section_start = start;
            section_size = static_cast<std::uint32_t>(std::stoul(size, nullptr, 16));
        } else if (name.front() == '.') {
            in_code = name == ".text";
        } else if (in_code && start == section_start && section_size > 0) {
            functions.push_back({name, start, section_size});
        }
    }
    return functions;
}

}  // namespace dormiscope::windows_image

// lld-link's map (/lldmap) of an image linked with every function in its own
// section: where each function starts and how long it is.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dormiscope::windows_image {

struct MappedFunction {
    std::string name;
    std::uint32_t start = 0;  // from the image base
    std::uint32_t size = 0;

    friend bool operator==(const MappedFunction&, const MappedFunction&) = default;
};

// The functions of the image's code sections, by the linker's names (32-bit
// C names start with '_'); none when the map cannot be read. Lines of any
// other shape are passed over.
std::vector<MappedFunction> ReadMappedFunctions(const std::filesystem::path& map);

}  // namespace dormiscope::windows_image

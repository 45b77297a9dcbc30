#include "make_sample/program_image.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "windows_image/image_pdb_identity.h"
#include "windows_image/linker_map.h"

namespace dormiscope::sample {

namespace {

// Halfway into the function: where a call it makes would return to.
std::uint64_t Inside(const std::vector<windows_image::MappedFunction>& functions, const std::string& name,
                     const std::filesystem::path& map) {
    const auto found = std::find_if(functions.begin(), functions.end(),
                                    [&name](const windows_image::MappedFunction& function) { return function.name == name; });
    if (found == functions.end()) {
        throw std::runtime_error(map.string() + " has no function " + name);
    }
    return found->start + found->size / 2;
}

}  // namespace

std::optional<ProgramImage> ReadProgramImage(const std::filesystem::path& folder, const std::string& file_name) {
    const std::filesystem::path image = folder / file_name;
    if (!std::filesystem::is_regular_file(image)) {
        return std::nullopt;
    }
    const std::optional<symbols::PdbIdentity> identity = windows_image::ReadImagePdbIdentity(image);
    if (!identity) {
        throw std::runtime_error(image.string() + " names no PDB");
    }
    const std::filesystem::path map = std::filesystem::path(image).replace_extension(".map");
    const std::vector<windows_image::MappedFunction> functions = windows_image::ReadMappedFunctions(map);
    return ProgramImage{*identity,
                        {Inside(functions, "RunTimerLoop", map), Inside(functions, "RunEventLoop", map),
                         Inside(functions, "ProcessWorkItem", map), Inside(functions, "WaitForConfigurationChange", map)}};
}

}  // namespace dormiscope::sample

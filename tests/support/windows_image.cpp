#include "support/windows_image.h"

#include <fstream>
#include <optional>
#include <stdexcept>
#include <vector>

#include "support/process_runner.h"
#include "windows_image/image_pdb_identity.h"

namespace dormiscope::testing {

namespace {

void Run(const std::vector<std::string>& command, const std::filesystem::path& folder) {
    const ProcessResult result = RunProcess(command, folder);
    if (result.exit_code != 0) {
        throw std::runtime_error(command.front() + " failed: " + result.standard_output + result.standard_error);
    }
}

}  // namespace

WindowsImage BuildWindowsImage(const std::string& code, const std::filesystem::path& folder, const std::string& name,
                               PdbSymbols symbols, Machine machine, Language language) {
    const std::string source = name + (language == Language::kCxx ? ".cpp" : ".c");
    std::ofstream(folder / source, std::ios::binary) << code;
    const bool x86 = machine == Machine::kX86;
    std::vector<std::string> compile = {DORMISCOPE_CLANG,
                                        x86 ? "--target=i686-pc-windows-msvc" : "--target=x86_64-pc-windows-msvc", "-O0",
                                        "-ffunction-sections", "-c", source, "-o", name + ".obj"};
    if (symbols == PdbSymbols::kPrivate) {
        compile.insert(compile.begin() + 2, {"-g", "-gcodeview"});
    }
    Run(compile, folder);
    Run({DORMISCOPE_LLD_LINK, "/dll", "/debug", "/nodefaultlib", "/noentry", x86 ? "/machine:x86" : "/machine:x64",
         "/out:" + name + ".dll",
         "/pdb:" + name + ".pdb", "/lldmap:" + name + ".map", name + ".obj"},
        folder);
    WindowsImage image{folder / (name + ".dll"), folder / (name + ".pdb"), folder / (name + ".map"), {}};
    const std::optional<symbols::PdbIdentity> identity = windows_image::ReadImagePdbIdentity(image.image);
    if (!identity) {
        throw std::runtime_error("no CodeView debug entry in " + image.image.string());
    }
    image.identity = *identity;
    return image;
}

}  // namespace dormiscope::testing

#include "support/windows_image.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/process_runner.h"
#include "support/temporary_directory.h"

namespace dormiscope::testing {

namespace {

void Run(const std::vector<std::string>& command, const std::filesystem::path& folder) {
    const ProcessResult result = RunProcess(command, folder);
    if (result.exit_code != 0) {
        throw std::runtime_error(command.front() + " failed: " + result.standard_output + result.standard_error);
    }
}

std::uint32_t Little(const std::string& bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < size; ++index) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + index])) << (8 * index);
    }
    return value;
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
    const std::optional<symbols::PdbIdentity> identity = ReadImagePdbIdentity(image.image);
    if (!identity) {
        throw std::runtime_error("no CodeView debug entry in " + image.image.string());
    }
    image.identity = *identity;
    return image;
}

std::optional<symbols::PdbIdentity> ReadImagePdbIdentity(const std::filesystem::path& image) {
    const std::string bytes = ReadFile(image);
    const auto fits = [&bytes](std::size_t offset, std::size_t size) {
        return offset <= bytes.size() && size <= bytes.size() - offset;
    };
    if (!fits(0, 0x40) || bytes.compare(0, 2, "MZ") != 0) {
        return std::nullopt;
    }
    const std::size_t pe = Little(bytes, 0x3c, 4);
    if (!fits(pe, 24) || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return std::nullopt;
    }
    const std::size_t section_count = Little(bytes, pe + 6, 2);
    const std::size_t optional_header = pe + 24;
    const std::size_t optional_size = Little(bytes, pe + 20, 2);
    if (!fits(optional_header, 2)) {
        return std::nullopt;
    }
    // The data directories follow the PE32 or PE32+ fields; the debug directory is the seventh.
    const bool pe32_plus = Little(bytes, optional_header, 2) == 0x20b;
    const std::size_t debug_entry = optional_header + (pe32_plus ? 112 : 96) + 6 * 8;
    if (!fits(debug_entry, 8) || debug_entry + 8 > optional_header + optional_size) {
        return std::nullopt;
    }
    const std::uint32_t debug_rva = Little(bytes, debug_entry, 4);
    const std::uint32_t debug_size = Little(bytes, debug_entry + 4, 4);
    const auto file_offset = [&](std::uint32_t rva) -> std::optional<std::size_t> {
        for (std::size_t index = 0; index < section_count; ++index) {
            const std::size_t header = optional_header + optional_size + index * 40;
            if (!fits(header, 40)) {
                return std::nullopt;
            }
            const std::uint32_t start = Little(bytes, header + 12, 4);
            const std::uint32_t raw_size = Little(bytes, header + 16, 4);
            if (rva >= start && rva - start < raw_size) {
                return Little(bytes, header + 20, 4) + (rva - start);
            }
        }
        return std::nullopt;
    };
    const std::optional<std::size_t> directory = file_offset(debug_rva);
    for (std::size_t entry = 0; directory && entry + 28 <= debug_size; entry += 28) {
        const std::size_t at = *directory + entry;
        if (!fits(at, 28) || Little(bytes, at + 12, 4) != 2) {  // IMAGE_DEBUG_TYPE_CODEVIEW
            continue;
        }
        const std::size_t record = Little(bytes, at + 24, 4);
        const std::size_t record_size = Little(bytes, at + 16, 4);
        if (!fits(record, record_size) || record_size < 24 || bytes.compare(record, 4, "RSDS") != 0) {
            continue;
        }
        symbols::PdbIdentity identity;
        std::memcpy(identity.guid.data(), bytes.data() + record + 4, identity.guid.size());
        identity.age = Little(bytes, record + 20, 4);
        identity.pdb_name = std::string(bytes.data() + record + 24, record_size - 24).c_str();
        return identity;
    }
    return std::nullopt;
}

std::vector<MappedFunction> ReadMappedFunctions(const std::filesystem::path& map) {
    // Lines are "address size align name": an output section (".text"), an
    // input section ("x.obj:(.text)"), or a symbol at its input section's
    // start (C++ names demangled, with spaces).
    std::vector<MappedFunction> functions;
    std::istringstream lines(ReadFile(map));
    std::string line;
    bool in_code = false;
    std::uint32_t section_start = 0;
    std::uint32_t section_size = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, size, align, name;
        if (!(fields >> address >> size >> align) || !std::getline(fields >> std::ws, name) || name.empty() ||
            address.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            continue;
        }
        const auto start = static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
        if (name.front() == '.') {
            in_code = name == ".text";
        } else if (name.find(":(") != std::string::npos) {
            section_start = start;
            section_size = static_cast<std::uint32_t>(std::stoul(size, nullptr, 16));
        } else if (in_code && start == section_start && section_size > 0) {
            functions.push_back({name, start, section_size});
        }
    }
    return functions;
}

}  // namespace dormiscope::testing

// How a code address reads on the page: module!function+0x4c where the
// module's PDB names the function, module+0x1a2b3c elsewhere, and
// "unknown 0xfffff80012345678" where no module held it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dormiscope::symbols {

struct FunctionOffset {
    std::string function;
    std::uint64_t offset = 0;  // from the function's first byte

    friend bool operator==(const FunctionOffset&, const FunctionOffset&) = default;
};

// `function` may be null; `module_offset` is from the image base.
std::string FrameText(std::string_view module, std::uint64_t module_offset, const FunctionOffset* function);
std::string UnknownFrameText(std::uint64_t address);

}  // namespace dormiscope::symbols

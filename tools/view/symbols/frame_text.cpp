#include "view/symbols/frame_text.h"

#include <cinttypes>
#include <cstdio>

namespace dormiscope::symbols {

namespace {

std::string HexOffset(std::uint64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "+0x%" PRIx64, offset);
    return text;
}

}  // namespace

std::string FrameText(std::string_view module, std::uint64_t module_offset, const FunctionOffset* function) {
    std::string text(module);
    if (function == nullptr) {
        return text + HexOffset(module_offset);
    }
    return text + "!" + function->function + HexOffset(function->offset);
}

std::string UnknownFrameText(std::uint64_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "unknown 0x%" PRIx64, address);
    return text;
}

}  // namespace dormiscope::symbols

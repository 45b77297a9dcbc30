// Failures show "name+0x1f" instead of the object's bytes.
#pragma once

#include <ostream>

#include "view/symbols/frame_text.h"

namespace dormiscope::symbols {

inline void PrintTo(const FunctionOffset& function, std::ostream* out) {
    *out << function.function << "+0x" << std::hex << function.offset << std::dec;
}

}  // namespace dormiscope::symbols

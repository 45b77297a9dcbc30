// Public symbols carry the name the linker saw: on 32-bit x86 a C function
// is "_name" (cdecl), "_name@8" (stdcall) or "@name@8" (fastcall), where
// private symbols and the user say "name".
#pragma once

#include <string>
#include <string_view>

namespace dormiscope::symbols {

// The C name of a public symbol; C++ names ('?'-mangled) are kept as they are.
std::string UndecoratedPublicName(std::string_view name, bool x86);

}  // namespace dormiscope::symbols

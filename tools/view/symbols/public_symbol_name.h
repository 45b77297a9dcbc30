// Public symbols carry the name the linker saw: C++ functions mangled
// ("?Run@Worker@@QEAAXXZ") and, on 32-bit x86, C functions decorated
// ("_name", "_name@8", "@name@8"), where private symbols and the user say
// "Worker::Run" and "name".
#pragma once

#include <string>
#include <string_view>

namespace dormiscope::symbols {

// The name as private symbols give it: the C++ function's qualified name
// without its parameters, the C name without its decoration. A name that does
// not demangle is kept as it is.
std::string UndecoratedPublicName(std::string_view name, bool x86);

}  // namespace dormiscope::symbols

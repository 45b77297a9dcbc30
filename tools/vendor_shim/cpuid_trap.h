// Answers CPUID instructions that fault with SIGSEGV: leaf 0 with a given
// vendor text and the processor's highest leaf, every other leaf with the
// processor's own values, and execution resumes after the instruction.
//
// A SIGSEGV that is not such a fault goes where it would have gone without
// the trap: to the program's own action, installed before or after the trap
// (sigaction and signal are intercepted for SIGSEGV once the trap is in place,
// so a later handler does not take CPUID faults away).
#pragma once

#include <cstdint>

namespace dormiscope::vendor_shim {

// Switches CPUID faulting for the calling thread; false when refused. The
// trap lifts faulting around the real instruction it runs.
using SetFaulting = bool (*)(bool faulting);

// The trap's own failure, reported as the launcher's: one line and this code.
inline constexpr int kLauncherFailure = 125;

// Writes "bin/dormiscope: <cause>" to standard error and exits with kLauncherFailure.
[[noreturn]] void Fail(const char* cause);

// Installs the trap for `vendor` (12 bytes) once per process; false when the
// handler cannot be installed. `set_faulting` may be called from the handler.
bool InstallCpuidTrap(const char (&vendor)[12], SetFaulting set_faulting);

}  // namespace dormiscope::vendor_shim

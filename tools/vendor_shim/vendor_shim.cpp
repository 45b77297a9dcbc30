// Preloaded by bin/dormiscope into the native build where the kernel offers
// CPUID faulting: processor-identification leaf 0 answers with the vendor
// text in DORMISCOPE_CPUID_VENDOR and the real highest leaf, every other leaf
// with the processor's own values. The program itself runs unchanged.
//
// The kernel clears CPUID faulting on execve, so it is enabled here, inside
// the program, before its main runs. Every CPUID then raises SIGSEGV, which
// the trap answers with faulting lifted for this thread alone.
#include <asm/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "vendor_shim/cpuid_trap.h"

namespace {

using dormiscope::vendor_shim::Fail;

bool SetCpuidFaulting(bool faulting) {
    // ARCH_SET_CPUID takes whether CPUID is allowed; threads inherit the setting.
    return ::syscall(SYS_arch_prctl, ARCH_SET_CPUID, faulting ? 0 : 1) == 0;
}

__attribute__((constructor)) void AnswerCpuidWithTheGivenVendor() {
    const char* const vendor = std::getenv("DORMISCOPE_CPUID_VENDOR");
    char text[12];
    if (vendor == nullptr || std::strlen(vendor) != sizeof text) {
        Fail("DORMISCOPE_CPUID_VENDOR must hold a 12-byte vendor text");
    }
    std::memcpy(text, vendor, sizeof text);
    if (!dormiscope::vendor_shim::InstallCpuidTrap(text, SetCpuidFaulting)) {
        Fail("the CPUID handler could not be installed");
    }
    if (!SetCpuidFaulting(true)) {
        Fail("this kernel refuses CPUID faulting (arch_prctl ARCH_SET_CPUID)");
    }
}

}  // namespace

// Preloaded by bin/dormiscope into the native build where the kernel offers
// CPUID faulting: processor-identification leaf 0 answers with the vendor
// text in DORMISCOPE_CPUID_VENDOR and the real highest leaf, every other leaf
// with the processor's own values. The program itself runs unchanged.
//
// The kernel clears CPUID faulting on execve, so it is enabled here, inside
// the program, before its main runs. Every CPUID then raises SIGSEGV; the
// handler decodes the instruction, runs the real one with faulting lifted for
// this thread alone, and resumes after it.
#include <asm/prctl.h>
#include <cpuid.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The launcher's own failure, a code the program never returns.
constexpr int kLauncherFailure = 125;

// EBX, EDX, ECX of leaf 0: the vendor text's bytes in that order.
std::uint32_t vendor_registers[3];

bool SetCpuidFaulting(bool faulting) {
    // ARCH_SET_CPUID takes whether CPUID is allowed; threads inherit the setting.
    return ::syscall(SYS_arch_prctl, ARCH_SET_CPUID, faulting ? 0 : 1) == 0;
}

[[noreturn]] void Fail(const char* cause) {
    const char prefix[] = "bin/dormiscope: ";
    (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!::write(STDERR_FILENO, cause, std::strlen(cause));
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(kLauncherFailure);
}

bool IsFaultingCpuid(const siginfo_t& info, const greg_t* registers) {
    // A faulting CPUID is a general-protection fault, which the kernel
    // reports as SI_KERNEL; only then is the instruction pointer readable.
    if (info.si_code != SI_KERNEL) {
        return false;
    }
    const auto* instruction = reinterpret_cast<const unsigned char*>(registers[REG_RIP]);
    return instruction[0] == 0x0F && instruction[1] == 0xA2;
}

void EmulateCpuid(int, siginfo_t* info, void* context) {
    greg_t* const registers = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    if (!IsFaultingCpuid(*info, registers)) {
        // The program's own fault: returning re-runs the instruction, which
        // then ends the program as it would have without this library.
        ::signal(SIGSEGV, SIG_DFL);
        return;
    }
    const int saved_errno = errno;
    const auto leaf = static_cast<unsigned>(registers[REG_RAX]);
    const auto subleaf = static_cast<unsigned>(registers[REG_RCX]);
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (!SetCpuidFaulting(false)) {
        Fail("CPUID faulting could not be lifted to answer an instruction");
    }
    __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
    if (!SetCpuidFaulting(true)) {
        Fail("CPUID faulting could not be enabled again");
    }
    if (leaf == 0) {
        ebx = vendor_registers[0];
        edx = vendor_registers[1];
        ecx = vendor_registers[2];
    }
    // CPUID writes 32-bit registers, which clears their upper halves.
    registers[REG_RAX] = eax;
    registers[REG_RBX] = ebx;
    registers[REG_RCX] = ecx;
    registers[REG_RDX] = edx;
    registers[REG_RIP] += 2;
    errno = saved_errno;
}

__attribute__((constructor)) void AnswerCpuidWithTheGivenVendor() {
    const char* const vendor = std::getenv("DORMISCOPE_CPUID_VENDOR");
    if (vendor == nullptr || std::strlen(vendor) != sizeof vendor_registers) {
        Fail("DORMISCOPE_CPUID_VENDOR must hold a 12-byte vendor text");
    }
    std::memcpy(vendor_registers, vendor, sizeof vendor_registers);
    struct sigaction action {};
    action.sa_sigaction = EmulateCpuid;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGSEGV, &action, nullptr) != 0) {
        Fail("the CPUID handler could not be installed");
    }
    if (!SetCpuidFaulting(true)) {
        Fail("this kernel refuses CPUID faulting (arch_prctl ARCH_SET_CPUID)");
    }
}

}  // namespace

#include "vendor_shim/cpuid_trap.h"

#include <cpuid.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace dormiscope::vendor_shim {
namespace {

using SigactionFunction = int (*)(int, const struct sigaction*, struct sigaction*);
using SignalFunction = sighandler_t (*)(int, sighandler_t);

// EBX, EDX, ECX of leaf 0: the vendor text's bytes in that order.
std::uint32_t vendor_registers[3];
SetFaulting set_faulting = nullptr;
std::atomic<bool> installed{false};
// Where every SIGSEGV that is not a CPUID fault goes: the action the program
// had before the trap, or has set since.
struct sigaction program_action {};

SigactionFunction RealSigaction() {
    static const auto real = reinterpret_cast<SigactionFunction>(::dlsym(RTLD_NEXT, "sigaction"));
    return real;
}

SignalFunction RealSignal() {
    static const auto real = reinterpret_cast<SignalFunction>(::dlsym(RTLD_NEXT, "signal"));
    return real;
}

// Whether the two bytes at `address` are CPUID. The address may be anything
// (a jump to nowhere faults there too), so it is read through the kernel,
// which reports an unreadable address instead of faulting.
bool IsCpuidAt(greg_t address, int code) {
    unsigned char bytes[2] = {};
    iovec local{bytes, sizeof bytes};
    iovec remote{reinterpret_cast<void*>(address), sizeof bytes};
    const ssize_t read = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (read < 0 && errno != EFAULT && code == SI_KERNEL) {
        // Where the call is not allowed: a general-protection fault is
        // reported at an instruction the processor fetched, so it is mapped.
        std::memcpy(bytes, reinterpret_cast<const void*>(address), sizeof bytes);
    } else if (read != static_cast<ssize_t>(sizeof bytes)) {
        return false;
    }
    return bytes[0] == 0x0F && bytes[1] == 0xA2;
}

// A CPUID fault is raised by the kernel at the instruction itself: as a
// general-protection fault where CPUID faulting is on, as an access fault
// where the instruction lies on a page without execute permission. A SIGSEGV
// sent by a process (si_code <= 0) never is one, wherever it interrupts.
bool IsCpuidFault(const siginfo_t& info, const greg_t* registers) {
    return info.si_code > 0 && IsCpuidAt(registers[REG_RIP], info.si_code);
}

void AnswerCpuid(greg_t* registers) {
    const auto leaf = static_cast<unsigned>(registers[REG_RAX]);
    const auto subleaf = static_cast<unsigned>(registers[REG_RCX]);
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (!set_faulting(false)) {
        Fail("CPUID faulting could not be lifted to answer an instruction");
    }
    __cpuid_count(leaf, subleaf, eax, ebx, ecx, edx);
    if (!set_faulting(true)) {
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
}

// Gives the signal to the program's action as the kernel would have.
void PassOn(int number, siginfo_t* info, ucontext_t* context) {
    const struct sigaction action = program_action;
    const bool sent = info->si_code <= 0;
    if (action.sa_handler == SIG_IGN && sent) {
        return;
    }
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) {
        // The default action ends the program, and a fault cannot be ignored:
        // with the default restored, a fault recurs when its instruction runs
        // again on return, and a sent signal is queued again with its own
        // details, pending until this handler returns.
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        RealSigaction()(number, &default_action, nullptr);
        if (sent) {
            ::syscall(SYS_rt_tgsigqueueinfo, ::getpid(), ::gettid(), number, info);
        }
        return;
    }
    if ((action.sa_flags & SA_RESETHAND) != 0) {
        program_action = {};
        program_action.sa_handler = SIG_DFL;
    }
    sigset_t mask = context->uc_sigmask;
    sigorset(&mask, &mask, &action.sa_mask);
    if ((action.sa_flags & SA_NODEFER) == 0) {
        sigaddset(&mask, number);
    }
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    if ((action.sa_flags & SA_SIGINFO) != 0) {
        action.sa_sigaction(number, info, context);
    } else {
        action.sa_handler(number);
    }
}

void OnSigsegv(int number, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    auto* const user_context = static_cast<ucontext_t*>(context);
    if (IsCpuidFault(*info, user_context->uc_mcontext.gregs)) {
        AnswerCpuid(user_context->uc_mcontext.gregs);
    } else {
        PassOn(number, info, user_context);
    }
    errno = saved_errno;
}

// Runs `change` with every signal blocked on this thread, so that the
// handler never sees the program's action half written.
template <typename Change>
void WithSignalsBlocked(Change change) {
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &saved);
    change();
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace

void Fail(const char* cause) {
    const char prefix[] = "bin/dormiscope: ";
    (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!::write(STDERR_FILENO, cause, std::strlen(cause));
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(kLauncherFailure);
}

bool InstallCpuidTrap(const char (&vendor)[12], SetFaulting faulting) {
    std::memcpy(vendor_registers, vendor, sizeof vendor_registers);
    set_faulting = faulting;
    if (installed.load()) {
        return true;
    }
    if (RealSigaction() == nullptr || RealSignal() == nullptr) {
        return false;
    }
    struct sigaction trap {};
    trap.sa_sigaction = OnSigsegv;
    // On the program's alternate stack when it has one (a stack overflow
    // still reaches its handler). Every signal waits while the handler runs:
    // another handler running CPUID here would find SIGSEGV blocked, or
    // faulting lifted and the processor's own vendor answering.
    trap.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigfillset(&trap.sa_mask);
    bool done = false;
    WithSignalsBlocked([&] {
        done = RealSigaction()(SIGSEGV, &trap, &program_action) == 0;
        installed.store(done);
    });
    return done;
}

}  // namespace dormiscope::vendor_shim

// Once the trap is in place, the program's SIGSEGV action is kept as the one
// the trap passes other faults to; the trap itself stays installed.
extern "C" int sigaction(int number, const struct sigaction* action, struct sigaction* previous) noexcept {
    using namespace dormiscope::vendor_shim;
    if (number != SIGSEGV || !installed.load()) {
        const SigactionFunction real = RealSigaction();
        if (real == nullptr) {
            errno = ENOSYS;
            return -1;
        }
        return real(number, action, previous);
    }
    WithSignalsBlocked([&] {
        if (previous != nullptr) {
            *previous = program_action;
        }
        if (action != nullptr) {
            program_action = *action;
        }
    });
    return 0;
}

extern "C" sighandler_t signal(int number, sighandler_t handler) noexcept {
    using namespace dormiscope::vendor_shim;
    if (number != SIGSEGV || !installed.load()) {
        const SignalFunction real = RealSignal();
        if (real == nullptr) {
            errno = ENOSYS;
            return SIG_ERR;
        }
        return real(number, handler);
    }
    // signal() keeps the handler installed and restarts system calls.
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, number);
    struct sigaction previous {};
    sigaction(number, &action, &previous);
    return previous.sa_handler;
}

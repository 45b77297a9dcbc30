// The CPUID trap on a machine without CPUID faulting: the instruction is put
// at the very end of a page without execute permission, so running it raises
// SIGSEGV at its address, as a faulting CPUID does. Each case runs in a child
// process, since the trap stays installed for the process's life.
#include <cpuid.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "vendor_shim/cpuid_trap.h"

namespace dormiscope::vendor_shim {
namespace {

constexpr char kVendor[12] = {'G', 'e', 'n', 'u', 'i', 'n', 'e', 'V', 'e', 'x', 'o', 'r'};

struct Registers {
    std::uint32_t eax = 0;
    std::uint32_t ebx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t edx = 0;
};

Registers RealCpuid(unsigned leaf, unsigned subleaf) {
    Registers out;
    __cpuid_count(leaf, subleaf, out.eax, out.ebx, out.ecx, out.edx);
    return out;
}

std::string VendorOf(const Registers& registers) {
    char text[12];
    std::memcpy(text, &registers.ebx, 4);
    std::memcpy(text + 4, &registers.edx, 4);
    std::memcpy(text + 8, &registers.ecx, 4);
    return {text, sizeof text};
}

// CPUID in the last two bytes of a readable page without execute permission,
// and a return at the start of the executable page after it: calling the
// CPUID faults, and only a trap that skips the instruction comes back.
class FaultingCpuid {
public:
    FaultingCpuid() {
        page_size_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* const pages = ::mmap(nullptr, 2 * page_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED) {
            std::abort();
        }
        bytes_ = static_cast<unsigned char*>(pages);
        bytes_[page_size_ - 2] = 0x0F;
        bytes_[page_size_ - 1] = 0xA2;
        bytes_[page_size_] = 0xC3;
        if (::mprotect(bytes_, page_size_, PROT_READ) != 0 ||
            ::mprotect(bytes_ + page_size_, page_size_, PROT_READ | PROT_EXEC) != 0) {
            std::abort();
        }
    }
    FaultingCpuid(const FaultingCpuid&) = delete;
    FaultingCpuid& operator=(const FaultingCpuid&) = delete;
    ~FaultingCpuid() { ::munmap(bytes_, 2 * page_size_); }

    // A store to the read-only page: a real fault (SEGV_ACCERR) that is not CPUID.
    void Store() const { *static_cast<volatile unsigned char*>(bytes_) = 1; }

    Registers Run(unsigned leaf, unsigned subleaf) const {
        Registers out;
        out.eax = leaf;
        out.ecx = subleaf;
        const void* const target = bytes_ + page_size_ - 2;
        // The call's return address must not land in the red zone below the
        // stack pointer, where the compiler may keep values.
        asm volatile("sub $128, %%rsp\n\tcall *%[target]\n\tadd $128, %%rsp"
                     : "+a"(out.eax), "=b"(out.ebx), "+c"(out.ecx), "=d"(out.edx)
                     : [target] "D"(target)
                     : "memory", "cc");
        return out;
    }

private:
    std::size_t page_size_ = 0;
    unsigned char* bytes_ = nullptr;
};

// What the test's faulting switch saw: the trap lifts faulting around each
// instruction it answers and enables it again.
std::atomic<int> lifts{0};
std::atomic<bool> lifted{false};
std::function<void()> on_lift;

bool RecordFaulting(bool faulting) {
    lifted = !faulting;
    if (!faulting) {
        ++lifts;
        if (on_lift) {
            on_lift();
        }
    }
    return true;
}

void Arm() {
    if (!InstallCpuidTrap(kVendor, RecordFaulting)) {
        std::abort();
    }
}

// The wait status of a child process that runs `body` and exits with what it returns.
int StatusOfChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

std::string Describe(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("killed by ") + ::strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

TEST(CpuidTrap, LeafZeroNamesTheVendorAndEveryOtherLeafIsTheProcessors) {
    const int status = StatusOfChild([] {
        Arm();
        const FaultingCpuid cpuid;
        const Registers leaf_zero = cpuid.Run(0, 0);
        if (VendorOf(leaf_zero) != "GenuineVexor") {
            return 10;
        }
        if (leaf_zero.eax != RealCpuid(0, 0).eax) {
            return 11;
        }
        // Leaves whose answer is the same on every processor, one with a subleaf.
        const unsigned leaves[][2] = {{7, 0}, {0x80000000, 0}, {0x80000002, 0}, {0x80000004, 0}};
        int code = 20;
        for (const auto& leaf : leaves) {
            const Registers trapped = cpuid.Run(leaf[0], leaf[1]);
            const Registers real = RealCpuid(leaf[0], leaf[1]);
            if (std::memcmp(&trapped, &real, sizeof trapped) != 0) {
                return code;
            }
            ++code;
        }
        // One lift per instruction answered, and faulting is back on after each.
        return lifts == 5 && !lifted ? 0 : 30;
    });
    EXPECT_EQ(Describe(status), "exit 0");
}

// Set by the SIGUSR1 handler: whether it ran, while faulting was lifted, and what leaf 0 said.
std::atomic<bool> usr1_ran{false};
std::atomic<bool> usr1_saw_lifted{false};
std::atomic<bool> usr1_saw_vendor{false};
const FaultingCpuid* usr1_cpuid = nullptr;

void OnUsr1(int) {
    usr1_ran = true;
    usr1_saw_lifted = lifted.load();
    usr1_saw_vendor = VendorOf(usr1_cpuid->Run(0, 0)) == "GenuineVexor";
}

TEST(CpuidTrap, ASignalArrivingWhileAnInstructionIsAnsweredWaitsForTheAnswer) {
    const int status = StatusOfChild([] {
        Arm();
        const FaultingCpuid cpuid;
        usr1_cpuid = &cpuid;
        ::signal(SIGUSR1, OnUsr1);
        // Sent once, from inside the trap, while faulting is lifted.
        on_lift = [] {
            if (!usr1_ran && lifts == 1) {
                ::syscall(SYS_tgkill, ::getpid(), ::gettid(), SIGUSR1);
            }
        };
        if (VendorOf(cpuid.Run(0, 0)) != "GenuineVexor") {
            return 10;
        }
        if (!usr1_ran) {
            return 11;
        }
        return !usr1_saw_lifted && usr1_saw_vendor ? 0 : 12;
    });
    EXPECT_EQ(Describe(status), "exit 0");
}

// A SIGSEGV that is not a CPUID fault, and the program's own action for it.
enum class Trigger { kSentWithTgkill, kRealFault };
enum class ProgramAction { kDefault, kIgnored, kHandlerBeforeTheTrap, kHandlerAfterTheTrap, kSignalAfterTheTrap };

constexpr int kHandlerSawTheSignal = 42;
constexpr int kHandlerSawSomethingElse = 43;
std::atomic<int> expected_code{0};

void ProgramHandler(int number, siginfo_t* info, void*) {
    ::_exit(number == SIGSEGV && info->si_code == expected_code ? kHandlerSawTheSignal : kHandlerSawSomethingElse);
}

void ProgramPlainHandler(int number) { ::_exit(number == SIGSEGV ? kHandlerSawTheSignal : kHandlerSawSomethingElse); }

void InstallProgramHandler() {
    struct sigaction action {};
    action.sa_sigaction = ProgramHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, nullptr);
}

// Runs the case, armed or not: the trap must change nothing of its outcome.
int RunCase(Trigger trigger, ProgramAction program_action, bool armed) {
    return StatusOfChild([=] {
        // The child's own reports (a sanitizer's) are not the test's output.
        if (std::freopen("/dev/null", "w", stderr) == nullptr) {
            return 1;
        }
        if (program_action == ProgramAction::kIgnored) {
            ::signal(SIGSEGV, SIG_IGN);
        }
        if (program_action == ProgramAction::kHandlerBeforeTheTrap) {
            InstallProgramHandler();
        }
        const FaultingCpuid cpuid;
        if (armed) {
            Arm();
        }
        if (program_action == ProgramAction::kHandlerAfterTheTrap) {
            InstallProgramHandler();
        }
        if (program_action == ProgramAction::kSignalAfterTheTrap) {
            ::signal(SIGSEGV, ProgramPlainHandler);
        }
        // A handler installed later leaves CPUID faults to the trap.
        if (armed && VendorOf(cpuid.Run(0, 0)) != "GenuineVexor") {
            return 10;
        }
        if (trigger == Trigger::kSentWithTgkill) {
            expected_code = SI_TKILL;
            ::syscall(SYS_tgkill, ::getpid(), ::gettid(), SIGSEGV);
        } else {
            expected_code = SEGV_ACCERR;
            cpuid.Store();
        }
        return 0;
    });
}

TEST(CpuidTrap, OtherSigsegvsReachTheProgramsActionAsWithoutTheTrap) {
    struct Case {
        Trigger trigger;
        ProgramAction program_action;
        const char* name;
    };
    const Case cases[] = {
        {Trigger::kSentWithTgkill, ProgramAction::kDefault, "sent, default action"},
        {Trigger::kRealFault, ProgramAction::kDefault, "fault, default action"},
        {Trigger::kSentWithTgkill, ProgramAction::kIgnored, "sent, ignored"},
        {Trigger::kRealFault, ProgramAction::kIgnored, "fault, ignored"},
        {Trigger::kSentWithTgkill, ProgramAction::kHandlerBeforeTheTrap, "sent, handler before the trap"},
        {Trigger::kRealFault, ProgramAction::kHandlerBeforeTheTrap, "fault, handler before the trap"},
        {Trigger::kSentWithTgkill, ProgramAction::kHandlerAfterTheTrap, "sent, handler after the trap"},
        {Trigger::kRealFault, ProgramAction::kHandlerAfterTheTrap, "fault, handler after the trap"},
        {Trigger::kRealFault, ProgramAction::kSignalAfterTheTrap, "fault, signal() after the trap"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const int without = RunCase(test.trigger, test.program_action, false);
        const int with = RunCase(test.trigger, test.program_action, true);
        EXPECT_EQ(Describe(with), Describe(without));
        // The unarmed run shows the case does what it claims.
        switch (test.program_action) {
            case ProgramAction::kIgnored:
                if (test.trigger == Trigger::kSentWithTgkill) {
                    EXPECT_EQ(Describe(without), "exit 0");
                    break;
                }
                [[fallthrough]];
            case ProgramAction::kDefault:
                EXPECT_NE(Describe(without), "exit 0");
                break;
            default:
                EXPECT_EQ(Describe(without), "exit " + std::to_string(kHandlerSawTheSignal));
        }
    }
}

}  // namespace
}  // namespace dormiscope::vendor_shim

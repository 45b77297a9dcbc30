// The code an idle Windows 10 machine runs, as a trace of it records it: the
// kernel's modules and each process's program and system DLLs (with where
// they are loaded and their PDBs' identities), the stacks threads wait in and
// ready others from, and the DPC and interrupt routines that wake them.
// Addresses are a module's base plus an offset inside it. A program built as
// a real image (see program_image.h) takes that image's PDB identity and its
// functions' offsets, so that its PDB names the program's frames; the rest
// keep made-up identities and read module+offset.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "etl_writer/code_payloads.h"
#include "make_sample/machine.h"
#include "make_sample/program_image.h"

namespace dormiscope::sample {

struct SampleModule {
    std::u16string path;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::uint32_t time_date_stamp = 0;
    std::uint32_t checksum = 0;
    std::string pdb_name;
    GUID pdb_guid{};
    std::uint32_t pdb_age = 1;
};

// What the image events of `module` loaded in `process_id` carry.
etl::ImageFields ImageFieldsOf(const SampleModule& module, std::uint32_t process_id);
etl::ImageIdentityFields ImageIdentityOf(const SampleModule& module, std::uint32_t process_id);

// Who makes a sleeping thread ready from an idle processor: the kernel's
// timer expiration, or a device's interrupt whose DPC completes its I/O.
enum class DpcSource { kTimer, kNetwork, kStorage };

// A routine run: the module's code the DPC or interrupt event names.
struct RoutineCode {
    std::uint64_t address = 0;
    std::uint8_t vector = 0;  // interrupts only
};

class MachineCode {
public:
    // Programs whose image `program_images` holds take its identity and
    // functions; an empty path, or a folder without the program, keeps the
    // made-up ones.
    MachineCode(const Machine& machine, const std::filesystem::path& program_images);

    // Loaded in process 0, seen from every process.
    const std::vector<SampleModule>& kernel_modules() const { return kernel_modules_; }
    // The program first, then its DLLs; none for processes that run no user
    // code (Idle, System, Registry).
    const std::vector<SampleModule>& ModulesOf(std::uint32_t process_id) const;

    // Where `thread_id` waits, leaf first; `choice` in [0, 1) picks one of
    // the places it usually waits in.
    std::vector<std::uint64_t> WaitStack(std::uint32_t thread_id, double choice) const;
    // The code of `thread_id` that sets the event another thread waits on.
    std::vector<std::uint64_t> SignalStack(std::uint32_t thread_id) const;
    // The idle thread's stack while the DPC of `source` readies a thread.
    std::vector<std::uint64_t> DpcReadyStack(DpcSource source) const;

    static RoutineCode DpcRoutine(DpcSource source);
    // The interrupt that queues the DPC of a device.
    static RoutineCode InterruptRoutine(DpcSource source);
    // A timer DPC that runs in the same DPC drain and readies nobody.
    static RoutineCode IdleTimerRoutine();

private:
    enum class Role { kKernelPeriodic, kKernelWorker, kUserSleeper, kUserTimedWaiter, kUserPoolWorker, kUserEventLoop };
    struct ThreadCode {
        std::uint32_t process_id = 0;
        Role role = Role::kKernelWorker;
        std::uint64_t program_base = 0;  // of the process's program; 0 for kernel-only processes
        ProgramFunctions functions;      // in the program, from its base
        bool even = false;               // picks one of two loops a kernel thread may wait in
    };

    const ThreadCode& CodeOf(std::uint32_t thread_id) const;

    std::vector<SampleModule> kernel_modules_;
    std::unordered_map<std::uint32_t, std::vector<SampleModule>> user_modules_;
    std::unordered_map<std::uint32_t, ThreadCode> threads_;
};

}  // namespace dormiscope::sample

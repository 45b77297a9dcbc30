#include "make_sample/machine_code.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

namespace dormiscope::sample {
namespace {

struct ModuleLayout {
    std::u16string_view path;
    std::uint64_t base;
    std::uint64_t size;
    std::string_view pdb_name;
};

// Kernel modules where one boot of Windows 10 placed them.
constexpr std::uint64_t kNtoskrnl = 0xFFFF'F806'1AA00000;
constexpr std::uint64_t kNdis = 0xFFFF'F806'1D200000;
constexpr std::uint64_t kTcpip = 0xFFFF'F806'1D400000;
constexpr std::uint64_t kNic = 0xFFFF'F806'21800000;
constexpr std::uint64_t kStorport = 0xFFFF'F806'1CE00000;
constexpr std::uint64_t kStornvme = 0xFFFF'F806'1CF00000;
constexpr ModuleLayout kKernelModules[] = {
    {u"\\SystemRoot\\system32\\ntoskrnl.exe", kNtoskrnl, 0x1046000, "ntkrnlmp.pdb"},
    {u"\\SystemRoot\\system32\\hal.dll", 0xFFFF'F806'1A900000, 0xA6000, "hal.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\intelppm.sys", 0xFFFF'F806'21600000, 0x45000, "intelppm.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\ACPI.sys", 0xFFFF'F806'1CA00000, 0xD3000, "acpi.pdb"},
    {u"\\SystemRoot\\system32\\drivers\\Wdf01000.sys", 0xFFFF'F806'1C800000, 0xE8000, "Wdf01000.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\FLTMGR.SYS", 0xFFFF'F806'1C600000, 0x6F000, "fltMgr.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\storport.sys", kStorport, 0xFC000, "storport.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\stornvme.sys", kStornvme, 0x31000, "stornvme.pdb"},
    {u"\\SystemRoot\\System32\\Drivers\\Ntfs.sys", 0xFFFF'F806'1D800000, 0x2F3000, "ntfs.pdb"},
    {u"\\SystemRoot\\system32\\drivers\\ndis.sys", kNdis, 0x13A000, "ndis.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\tcpip.sys", kTcpip, 0x2E7000, "tcpip.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\e1d68x64.sys", kNic, 0x8F000, "e1d68x64.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\USBXHCI.SYS", 0xFFFF'F806'21A00000, 0x91000, "USBXHCI.pdb"},
    {u"\\SystemRoot\\System32\\drivers\\HDAudBus.sys", 0xFFFF'F806'21C00000, 0x26000, "HDAudBus.pdb"},
    {u"\\SystemRoot\\system32\\drivers\\portcls.sys", 0xFFFF'F806'21E00000, 0x64000, "portcls.pdb"},
};

// System DLLs: one base for every process in a boot.
constexpr std::uint64_t kNtdll = 0x0000'7FFB'2D6D0000;
constexpr std::uint64_t kKernel32 = 0x0000'7FFB'2C3E0000;
constexpr std::uint64_t kKernelBase = 0x0000'7FFB'2AF40000;
constexpr ModuleLayout kSystemDlls[] = {
    {u"C:\\Windows\\System32\\ntdll.dll", kNtdll, 0x1F5000, "ntdll.pdb"},
    {u"C:\\Windows\\System32\\kernel32.dll", kKernel32, 0xBD000, "kernel32.pdb"},
    {u"C:\\Windows\\System32\\KERNELBASE.dll", kKernelBase, 0x2C8000, "kernelbase.pdb"},
    {u"C:\\Windows\\System32\\ucrtbase.dll", 0x0000'7FFB'2B470000, 0x100000, "ucrtbase.pdb"},
    {u"C:\\Windows\\System32\\RPCRT4.dll", 0x0000'7FFB'2C8A0000, 0x125000, "rpcrt4.pdb"},
};

// Return addresses inside the functions a wait, a ready and a DPC pass
// through (the functions named beside them).
namespace nt {
constexpr std::uint64_t KiSwapContext = kNtoskrnl + 0x3F8E36;
constexpr std::uint64_t KiSwapThread = kNtoskrnl + 0x0B84F7;
constexpr std::uint64_t KiCommitThreadWait = kNtoskrnl + 0x0B7A9F;
constexpr std::uint64_t KeWaitForSingleObject = kNtoskrnl + 0x0B6F21;
constexpr std::uint64_t KeDelayExecutionThread = kNtoskrnl + 0x0C1B38;
constexpr std::uint64_t KeWaitForMultipleObjects = kNtoskrnl + 0x0E2A55;
constexpr std::uint64_t KeRemoveQueueEx = kNtoskrnl + 0x0B3C8A;
constexpr std::uint64_t KeRemovePriQueue = kNtoskrnl + 0x0A8F4E;
constexpr std::uint64_t IoRemoveIoCompletion = kNtoskrnl + 0x0D4B61;
constexpr std::uint64_t NtWaitForSingleObject = kNtoskrnl + 0x4A7D35;
constexpr std::uint64_t NtDelayExecution = kNtoskrnl + 0x4B1E0C;
constexpr std::uint64_t NtWaitForMultipleObjects = kNtoskrnl + 0x5C2A7F;
constexpr std::uint64_t NtWaitForWorkViaWorkerFactory = kNtoskrnl + 0x4E9D43;
constexpr std::uint64_t NtSetEvent = kNtoskrnl + 0x4A2F18;
constexpr std::uint64_t KiSystemServiceCopyEnd = kNtoskrnl + 0x40B675;
constexpr std::uint64_t KeBalanceSetManager = kNtoskrnl + 0x1C4E2B;
constexpr std::uint64_t CcLazyWriteScanThread = kNtoskrnl + 0x2A3C57;
constexpr std::uint64_t ExpWorkerThread = kNtoskrnl + 0x0A6B15;
constexpr std::uint64_t PspSystemThreadStartup = kNtoskrnl + 0x555E4A;
constexpr std::uint64_t KiStartSystemThread = kNtoskrnl + 0x3FE2D8;
constexpr std::uint64_t KiReadyThread = kNtoskrnl + 0x0B9C64;
constexpr std::uint64_t KiExitDispatcher = kNtoskrnl + 0x0BA3F1;
constexpr std::uint64_t KeSetEvent = kNtoskrnl + 0x0B2D7C;
constexpr std::uint64_t IopfCompleteRequest = kNtoskrnl + 0x0B1E93;
constexpr std::uint64_t KiProcessExpiredTimerList = kNtoskrnl + 0x0ED512;
constexpr std::uint64_t KiTimerExpiration = kNtoskrnl + 0x0EC3C9;
constexpr std::uint64_t KiExecuteAllDpcs = kNtoskrnl + 0x1F45D1;
constexpr std::uint64_t KiRetireDpcList = kNtoskrnl + 0x1F3A6E;
constexpr std::uint64_t KiIdleLoop = kNtoskrnl + 0x3FA9BE;
constexpr std::uint64_t KiTimerExpirationDpc = kNtoskrnl + 0x0EF210;  // a routine: its first byte
}  // namespace nt

namespace ntdll {
constexpr std::uint64_t NtWaitForSingleObject = kNtdll + 0x9D0E4;
constexpr std::uint64_t NtDelayExecution = kNtdll + 0x9D664;
constexpr std::uint64_t NtWaitForMultipleObjects = kNtdll + 0x9E1A4;
constexpr std::uint64_t NtWaitForWorkViaWorkerFactory = kNtdll + 0x9DB44;
constexpr std::uint64_t NtSetEvent = kNtdll + 0x9D8C4;
constexpr std::uint64_t TppWorkerThread = kNtdll + 0x2A3E1;
constexpr std::uint64_t RtlUserThreadStart = kNtdll + 0x6A271;
}  // namespace ntdll

constexpr std::uint64_t kBaseThreadInitThunk = kKernel32 + 0x17034;
namespace kernelbase {
constexpr std::uint64_t WaitForSingleObjectEx = kKernelBase + 0x3A32E;
constexpr std::uint64_t SleepEx = kKernelBase + 0x6C75F;
constexpr std::uint64_t WaitForMultipleObjectsEx = kKernelBase + 0x3B1DC;
constexpr std::uint64_t SetEvent = kKernelBase + 0x4F1E2;
}  // namespace kernelbase

// Offsets in a program's own functions where no image of it was built;
// every program is larger than the last.
constexpr ProgramFunctions kMadeUpProgramFunctions = {0x1B64, 0x2A1F, 0x3C93, 0x4E0A};
constexpr std::uint64_t kSmallestProgram = 0x7000;

// Image sizes of the programs the scenario names; others get a middling one.
const std::map<std::string, std::uint64_t, std::less<>> kProgramSizes = {
    {"smss.exe", 0x26000},          {"csrss.exe", 0x7000},         {"wininit.exe", 0x60000},
    {"services.exe", 0xB0000},      {"lsass.exe", 0x15000},        {"svchost.exe", 0x10000},
    {"audiodg.exe", 0x8F000},       {"explorer.exe", 0x47A000},    {"Telemetry.exe", 0x2C000},
    {"RuntimeBroker.exe", 0x22000}, {"conhost.exe", 0xF5000},      {"dllhost.exe", 0x9000},
    {"taskhostw.exe", 0x1D000},     {"WmiPrvSE.exe", 0x8E000},     {"SearchIndexer.exe", 0x137000},
    {"spoolsv.exe", 0xB1000},       {"cmd.exe", 0x54000},          {"SearchProtocolHost.exe", 0xF2000},
    {"backgroundTaskHost.exe", 0x9000},
};

// FNV-1a: stamps, checksums and PDB GUIDs that stay the same from build to build.
std::uint64_t Hash(std::string_view text, std::uint64_t salt) {
    std::uint64_t hash = 0xCBF2'9CE4'8422'2325 ^ salt;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100'0000'01B3;
    }
    return hash;
}

SampleModule ModuleOf(std::u16string path, std::uint64_t base, std::uint64_t size, std::string pdb_name) {
    SampleModule module{std::move(path), base, size, 0, 0, std::move(pdb_name), {}, 1};
    const std::uint64_t low = Hash(module.pdb_name, size);
    const std::uint64_t high = Hash(module.pdb_name, ~size);
    module.time_date_stamp = 0x5F00'0000 + static_cast<std::uint32_t>(low % 0x0300'0000);
    module.checksum = static_cast<std::uint32_t>(high % (size * 2)) + static_cast<std::uint32_t>(size / 2);
    module.pdb_guid.Data1 = static_cast<std::uint32_t>(low);
    module.pdb_guid.Data2 = static_cast<std::uint16_t>(low >> 32);
    module.pdb_guid.Data3 = static_cast<std::uint16_t>(low >> 48);
    for (int index = 0; index < 8; ++index) {
        module.pdb_guid.Data4[index] = static_cast<std::uint8_t>(high >> (8 * index));
    }
    return module;
}

SampleModule ModuleOf(const ModuleLayout& layout) {
    return ModuleOf(std::u16string(layout.path), layout.base, layout.size, std::string(layout.pdb_name));
}

std::u16string Widen(std::string_view text) {
    return {text.begin(), text.end()};
}

// Where the program's file lies: as the command line names it, when it does
// with a drive, or in the system folder.
std::string ProgramPath(const ProcessSpec& process) {
    const std::string_view line = process.command_line;
    const std::string_view first = !line.empty() && line.front() == '"' ? line.substr(1, line.find('"', 1) - 1)
                                                                          : line.substr(0, line.find(' '));
    const std::string_view image = process.image;
    const bool same_name =
        first.size() > image.size() + 3 && first[1] == ':' && first[first.size() - image.size() - 1] == '\\' &&
        std::equal(image.begin(), image.end(), first.end() - static_cast<std::ptrdiff_t>(image.size()),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                               std::tolower(static_cast<unsigned char>(b)); });
    return same_name ? std::string(first) : "C:\\Windows\\System32\\" + process.image;
}

// Programs are loaded below the DLLs, at a base that differs by process.
std::uint64_t ProgramBase(const ProcessSpec& process) {
    return 0x0000'7FF6'0000'0000 + (Hash(process.image, process.pid) % 0xF000) * 0x10'0000;
}

// The GUID as the trace's image identity carries it, from its bytes as an
// image's debug directory stores them.
GUID GuidOf(const std::array<std::uint8_t, 16>& bytes) {
    const auto little = [&bytes](std::size_t offset, std::size_t size) {
        std::uint32_t value = 0;
        for (std::size_t index = 0; index < size; ++index) {
            value |= static_cast<std::uint32_t>(bytes[offset + index]) << (8 * index);
        }
        return value;
    };
    GUID guid{};
    guid.Data1 = little(0, 4);
    guid.Data2 = static_cast<std::uint16_t>(little(4, 2));
    guid.Data3 = static_cast<std::uint16_t>(little(6, 2));
    std::copy(bytes.begin() + 8, bytes.end(), std::begin(guid.Data4));
    return guid;
}

}  // namespace

etl::ImageFields ImageFieldsOf(const SampleModule& module, std::uint32_t process_id) {
    etl::ImageFields fields;
    fields.ImageBase = module.base;
    fields.ImageSize = module.size;
    fields.ProcessId = process_id;
    fields.ImageCheckSum = module.checksum;
    fields.TimeDateStamp = module.time_date_stamp;
    fields.SignatureLevel = 12;  // signed by Windows
    fields.SignatureType = 1;    // embedded
    fields.DefaultBase = module.base;
    fields.FileName = module.path;
    return fields;
}

etl::ImageIdentityFields ImageIdentityOf(const SampleModule& module, std::uint32_t process_id) {
    return {module.base, process_id, module.pdb_guid, module.pdb_age, module.pdb_name};
}

MachineCode::MachineCode(const Machine& machine, const std::filesystem::path& program_images) {
    // Read once for every process that runs the program.
    std::map<std::string, std::optional<ProgramImage>, std::less<>> images;
    const auto image_of = [&](const std::string& file_name) -> const std::optional<ProgramImage>& {
        auto found = images.find(file_name);
        if (found == images.end()) {
            found = images.emplace(file_name, program_images.empty() ? std::nullopt
                                                                      : ReadProgramImage(program_images, file_name))
                        .first;
        }
        return found->second;
    };
    for (const ModuleLayout& layout : kKernelModules) {
        kernel_modules_.push_back(ModuleOf(layout));
    }
    for (const MachineProcess& machine_process : machine.processes) {
        const ProcessSpec& process = machine_process.description;
        // Idle, System and Registry are no program file.
        const bool user_code = process.image.find('.') != std::string::npos;
        std::uint64_t program_base = 0;
        ProgramFunctions functions = kMadeUpProgramFunctions;
        if (user_code) {
            const auto known = kProgramSizes.find(process.image);
            const std::uint64_t size = known != kProgramSizes.end() ? known->second : 0x20000;
            program_base = ProgramBase(process);
            const std::string stem = process.image.substr(0, process.image.rfind('.'));
            std::vector<SampleModule>& modules = user_modules_[process.pid];
            modules.push_back(ModuleOf(Widen(ProgramPath(process)), program_base, std::max(size, kSmallestProgram),
                                       stem + ".pdb"));
            if (const std::optional<ProgramImage>& image = image_of(process.image)) {
                SampleModule& program = modules.back();
                program.pdb_name = image->identity.pdb_name;
                program.pdb_guid = GuidOf(image->identity.guid);
                program.pdb_age = image->identity.age;
                functions = image->functions;
            }
            for (const ModuleLayout& layout : kSystemDlls) {
                modules.push_back(ModuleOf(layout));
            }
        }
        for (const ThreadSpec& thread : process.threads) {
            // Thread ids come in steps of 4: every other timer-driven thread
            // sleeps, and two in three of the others are thread-pool workers.
            const std::uint32_t serial = thread.tid / 4;
            Role role = Role::kKernelWorker;
            if (!user_code) {
                role = thread.period_ms > 0 ? Role::kKernelPeriodic : Role::kKernelWorker;
            } else if (thread.period_ms > 0) {
                role = serial % 2 == 0 ? Role::kUserSleeper : Role::kUserTimedWaiter;
            } else {
                role = serial % 3 != 0 ? Role::kUserPoolWorker : Role::kUserEventLoop;
            }
            threads_[thread.tid] = {process.pid, role, program_base, functions, serial % 2 == 0};
        }
    }
}

const std::vector<SampleModule>& MachineCode::ModulesOf(std::uint32_t process_id) const {
    static const std::vector<SampleModule> kNone;
    const auto found = user_modules_.find(process_id);
    return found == user_modules_.end() ? kNone : found->second;
}

const MachineCode::ThreadCode& MachineCode::CodeOf(std::uint32_t thread_id) const {
    static const ThreadCode kUnknown;
    const auto found = threads_.find(thread_id);
    return found == threads_.end() ? kUnknown : found->second;
}

std::vector<std::uint64_t> MachineCode::WaitStack(std::uint32_t thread_id, double choice) const {
    const ThreadCode& code = CodeOf(thread_id);
    const std::uint64_t program = code.program_base;
    // Most waits come from the thread's usual place; now and then it waits elsewhere.
    const bool usual = choice < 0.85;
    std::vector<std::uint64_t> stack = {nt::KiSwapContext, nt::KiSwapThread, nt::KiCommitThreadWait};
    const auto append = [&stack](std::initializer_list<std::uint64_t> frames) {
        stack.insert(stack.end(), frames);
    };
    switch (code.role) {
        case Role::kKernelPeriodic:
            append({nt::KeWaitForMultipleObjects, code.even ? nt::CcLazyWriteScanThread : nt::KeBalanceSetManager,
                    nt::PspSystemThreadStartup, nt::KiStartSystemThread});
            break;
        case Role::kKernelWorker:
            if (usual) {
                append({nt::KeRemovePriQueue, nt::ExpWorkerThread, nt::PspSystemThreadStartup,
                        nt::KiStartSystemThread});
            } else {
                append({nt::KeWaitForSingleObject, nt::ExpWorkerThread, nt::PspSystemThreadStartup,
                        nt::KiStartSystemThread});
            }
            break;
        case Role::kUserSleeper:
            append({nt::KeDelayExecutionThread, nt::NtDelayExecution, nt::KiSystemServiceCopyEnd,
                    ntdll::NtDelayExecution, kernelbase::SleepEx, program + code.functions.timer_loop,
                    kBaseThreadInitThunk, ntdll::RtlUserThreadStart});
            break;
        case Role::kUserTimedWaiter:
            if (usual) {
                append({nt::KeWaitForSingleObject, nt::NtWaitForSingleObject, nt::KiSystemServiceCopyEnd,
                        ntdll::NtWaitForSingleObject, kernelbase::WaitForSingleObjectEx,
                        program + code.functions.timer_loop, kBaseThreadInitThunk, ntdll::RtlUserThreadStart});
            } else {
                append({nt::KeWaitForMultipleObjects, nt::NtWaitForMultipleObjects, nt::KiSystemServiceCopyEnd,
                        ntdll::NtWaitForMultipleObjects, kernelbase::WaitForMultipleObjectsEx,
                        program + code.functions.notify, program + code.functions.timer_loop, kBaseThreadInitThunk,
                        ntdll::RtlUserThreadStart});
            }
            break;
        case Role::kUserPoolWorker:
            append({nt::KeRemoveQueueEx, nt::IoRemoveIoCompletion, nt::NtWaitForWorkViaWorkerFactory,
                    nt::KiSystemServiceCopyEnd, ntdll::NtWaitForWorkViaWorkerFactory, ntdll::TppWorkerThread,
                    kBaseThreadInitThunk, ntdll::RtlUserThreadStart});
            break;
        case Role::kUserEventLoop:
            if (usual) {
                append({nt::KeWaitForSingleObject, nt::NtWaitForSingleObject, nt::KiSystemServiceCopyEnd,
                        ntdll::NtWaitForSingleObject, kernelbase::WaitForSingleObjectEx,
                        program + code.functions.event_loop, kBaseThreadInitThunk, ntdll::RtlUserThreadStart});
            } else {
                append({nt::KeWaitForMultipleObjects, nt::NtWaitForMultipleObjects, nt::KiSystemServiceCopyEnd,
                        ntdll::NtWaitForMultipleObjects, kernelbase::WaitForMultipleObjectsEx,
                        program + code.functions.worker, program + code.functions.event_loop, kBaseThreadInitThunk,
                        ntdll::RtlUserThreadStart});
            }
            break;
    }
    return stack;
}

std::vector<std::uint64_t> MachineCode::SignalStack(std::uint32_t thread_id) const {
    const ThreadCode& code = CodeOf(thread_id);
    if (code.program_base == 0) {
        return {nt::KiReadyThread, nt::KiExitDispatcher, nt::KeSetEvent, nt::ExpWorkerThread,
                nt::PspSystemThreadStartup, nt::KiStartSystemThread};
    }
    return {nt::KiReadyThread,
            nt::KiExitDispatcher,
            nt::KeSetEvent,
            nt::NtSetEvent,
            nt::KiSystemServiceCopyEnd,
            ntdll::NtSetEvent,
            kernelbase::SetEvent,
            code.program_base + code.functions.worker,
            kBaseThreadInitThunk,
            ntdll::RtlUserThreadStart};
}

std::vector<std::uint64_t> MachineCode::DpcReadyStack(DpcSource source) const {
    switch (source) {
        case DpcSource::kNetwork:
            return {nt::KiReadyThread, nt::KiExitDispatcher, nt::KeSetEvent, kTcpip + 0x3E1F6, kNdis + 0x1B77A,
                    kNdis + 0x2C1F, nt::KiExecuteAllDpcs, nt::KiRetireDpcList, nt::KiIdleLoop};
        case DpcSource::kStorage:
            return {nt::KiReadyThread, nt::KiExitDispatcher, nt::KeSetEvent, nt::IopfCompleteRequest,
                    kStorport + 0x2F8A1, kStorport + 0x1D5E, nt::KiExecuteAllDpcs, nt::KiRetireDpcList,
                    nt::KiIdleLoop};
        case DpcSource::kTimer:
            break;
    }
    return {nt::KiReadyThread, nt::KiProcessExpiredTimerList, nt::KiTimerExpiration, nt::KiRetireDpcList,
            nt::KiIdleLoop};
}

RoutineCode MachineCode::DpcRoutine(DpcSource source) {
    switch (source) {
        case DpcSource::kNetwork:
            return {kNdis + 0x2B40, 0};
        case DpcSource::kStorage:
            return {kStorport + 0x1D30, 0};
        case DpcSource::kTimer:
            break;
    }
    return {nt::KiTimerExpirationDpc, 0};
}

RoutineCode MachineCode::InterruptRoutine(DpcSource source) {
    return source == DpcSource::kStorage ? RoutineCode{kStornvme + 0x1650, 0x81} : RoutineCode{kNic + 0x12A0, 0x72};
}

RoutineCode MachineCode::IdleTimerRoutine() {
    return {kTcpip + 0x6C3D0, 0};
}

}  // namespace dormiscope::sample

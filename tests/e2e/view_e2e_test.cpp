// dormiscope-view on small written traces: the --json document compared byte
// for byte with golden/view/<case>.json (DORMISCOPE_UPDATE_GOLDEN=1 rewrites
// them; check every change by hand), the page checked against it, and the
// program's answers to bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "e2e_run.h"
#include "report_json.h"
#include "etl_writer/code_events.h"
#include "etl_writer/timer_resolution_events.h"
#include "etl_writer/trace_clock.h"
#include "platform/kernel_power_events.h"
#include "support/kernel_trace.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint32_t kIdle = 0;
constexpr std::uint64_t kMillisecond = 10'000;
constexpr std::uint64_t kKernelBase = 0xFFFF'F800'0000'0000;
constexpr std::uint8_t kKernelPart = kOpcodeStackKeyKernel;
constexpr std::uint8_t kUserPart = kOpcodeStackKeyUser;
constexpr std::uint8_t kSampledProfile = 46;  // PerfInfo: a profiling sample, which the view does not use

// A kernel trace with per-processor context switches, readies and names.
class WakeTrace {
public:
    explicit WakeTrace(etl::TraceOptions options = {}) : trace_(std::move(options)) {
        trace_.ProcessRundown(0, "Idle").ThreadRundown(0, kIdle);
    }
    WakeTrace& Process(std::uint32_t pid, const std::string& name) {
        trace_.ProcessRundown(pid, name);
        return *this;
    }
    WakeTrace& Thread(std::uint32_t pid, std::uint32_t tid) {
        trace_.ThreadRundown(pid, tid);
        return *this;
    }
    // A rundown of the given version carrying a name: version 4's ThreadName,
    // or the trailing name of version 3.
    WakeTrace& NamedThread(std::uint32_t pid, std::uint32_t tid, std::uint16_t version, const std::u16string& name,
                           std::uint8_t opcode = kOpcodeDCStart, std::uint64_t at = 0) {
        etl::ThreadFields fields;
        fields.ProcessId = pid;
        fields.TThreadId = tid;
        trace_.Add(etl::ThreadEvent(0, 0, opcode, version, 8, fields, name), at);
        return *this;
    }
    WakeTrace& Switch(std::uint64_t at, std::uint32_t processor, std::uint32_t new_tid, std::uint32_t old_tid,
                      std::uint8_t cstate = 1) {
        trace_.Add(etl::CSwitchEvent(processor, 0,
                                     etl::CSwitchFields{.NewThreadId = new_tid, .OldThreadId = old_tid,
                                                        .PreviousCState = cstate}),
                   at);
        return *this;
    }
    WakeTrace& Ready(std::uint64_t at, std::uint32_t processor, std::uint32_t tid, std::uint8_t flag = 0) {
        trace_.Add(etl::ReadyThreadEvent(processor, 0, {.TThreadId = tid, .Flag = flag}), at);
        return *this;
    }
    WakeTrace& SetName(std::uint64_t at, std::uint32_t pid, std::uint32_t tid, const std::u16string& name) {
        trace_.Add(etl::SetNameEvent(0, 0, pid, tid, name), at);
        return *this;
    }
    // A thread on a processor of its own, waking from idle after each group
    // of `count` intervals of `length`, one group after the other.
    struct Repeated {
        std::size_t count;
        std::uint64_t length;
    };
    WakeTrace& Periodic(std::uint32_t tid, std::uint32_t processor, std::initializer_list<Repeated> groups) {
        std::uint64_t now = 0;
        for (const Repeated& group : groups) {
            for (std::size_t wake = 0; wake < group.count; ++wake) {
                now += group.length;
                Switch(now, processor, tid, kIdle);
                now += 100;
                Switch(now, processor, kIdle, tid);
            }
        }
        return *this;
    }
    // Code events, in the trace's pointer size. Times inside payloads (a
    // stack's event, a routine's entry) are offsets like `at`.
    WakeTrace& Image(std::uint64_t at, std::uint8_t opcode, std::uint32_t pid, std::uint64_t base, std::uint64_t size,
                     const std::u16string& path) {
        const etl::ImageFields fields{.ImageBase = base, .ImageSize = size, .ProcessId = pid, .FileName = path};
        trace_.Add(etl::ImageEvent(0, 0, opcode, kImageVersion, PointerSize(), fields), at);
        return *this;
    }
    WakeTrace& Stack(std::uint64_t at, std::uint32_t processor, std::uint64_t event_at, std::uint32_t pid,
                     std::uint32_t tid, const std::vector<std::uint64_t>& frames) {
        trace_.Add(etl::StackEvent(processor, 0, Raw(event_at), pid, tid, frames, PointerSize()), at);
        return *this;
    }
    WakeTrace& StackKeyReference(std::uint64_t at, std::uint32_t processor, std::uint8_t opcode,
                                 std::uint64_t event_at, std::uint32_t pid, std::uint32_t tid, std::uint64_t key) {
        trace_.Add(etl::StackKeyReferenceEvent(processor, 0, opcode, Raw(event_at), pid, tid, key, PointerSize()), at);
        return *this;
    }
    WakeTrace& StackKeyDefinition(std::uint64_t at, std::uint8_t opcode, std::uint64_t key,
                                  const std::vector<std::uint64_t>& frames) {
        trace_.Add(etl::StackKeyDefinitionEvent(0, 0, opcode, key, frames, PointerSize()), at);
        return *this;
    }
    WakeTrace& Routine(std::uint64_t at, std::uint32_t processor, std::uint8_t opcode, std::uint64_t entered_at,
                       std::uint64_t routine) {
        trace_.Add(opcode == kOpcodeIsr ? etl::IsrEvent(processor, 0, Raw(entered_at), routine, 0x31, PointerSize())
                                        : etl::DpcEvent(processor, 0, opcode, Raw(entered_at), routine, PointerSize()),
                   at);
        return *this;
    }
    // Timer-resolution events: a process's request (0 releases it), and at a
    // rundown its outstanding request with the stack that made it.
    WakeTrace& TimerRequest(std::uint64_t at, std::uint32_t pid, const std::u16string& app, std::uint32_t requested) {
        trace_.TimerRequest(pid, app, requested, at);
        return *this;
    }
    WakeTrace& TimerRundown(std::uint64_t at, std::uint32_t pid, const std::u16string& app, std::uint32_t requested,
                            const std::vector<std::uint64_t>& stack) {
        trace_.TimerRequestRundown(pid, app, requested, at).TimerStackRundown(pid, app, requested, stack, at);
        return *this;
    }
    WakeTrace& PowerEvent(std::uint64_t at, std::uint16_t id, std::uint8_t version, std::vector<std::uint8_t> payload) {
        trace_.PowerEvent(id, version, std::move(payload), at);
        return *this;
    }
    // Any event, for the ones the helpers above cannot damage.
    WakeTrace& Add(etl::Event event, std::uint64_t at) {
        trace_.Add(std::move(event), at);
        return *this;
    }
    std::uint32_t PointerSize() const { return trace_.options().pointer_size; }
    std::uint64_t Raw(std::uint64_t at) const {
        return static_cast<std::uint64_t>(etl::RawFromOffset(trace_.options(), at));
    }
    std::filesystem::path Write(const std::filesystem::path& file) const { return trace_.Write(file); }

private:
    KernelTrace trace_;
};

struct ViewCase {
    std::string name;  // golden/view/<name>.json
    std::function<WakeTrace()> trace;
};

void PrintTo(const ViewCase& view_case, std::ostream* out) {
    *out << view_case.name;
}

// The kernel and app.exe, loaded before the trace started.
void LoadKernelAndApp(WakeTrace& trace) {
    trace.Image(0, kOpcodeImageDCStart, 0, kKernelBase, 0x10'0000, u"\\SystemRoot\\system32\\ntoskrnl.exe")
        .Image(0, kOpcodeImageDCStart, 720, 0x40'0000, 0x1'0000, u"C:\\Program Files\\App\\app.exe");
}

etl::TraceOptions ThirtyTwoBit() {
    etl::TraceOptions options;
    options.pointer_size = 4;
    return options;
}

etl::TraceOptions LostEvents() {
    etl::TraceOptions options;
    options.events_lost = 1'234;
    options.buffers_lost = 2;
    return options;
}

const std::vector<ViewCase>& ViewCases() {
    static const std::vector<ViewCase> cases = {
        // Idle wakes from C-states 1, 2 and 3 on three processors, interleaved
        // in time; thread 200 takes over from thread 100 (a wake, not an idle
        // one) and then wakes from idle on another processor.
        {"idle_cstates",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100).Process(800, "svc.exe").Thread(800, 200);
             trace.Switch(10'000, 0, 96, kIdle, 1).Switch(10'100, 0, kIdle, 96);
             trace.Switch(15'000, 1, 100, kIdle, 3).Switch(15'300, 1, 200, 100).Switch(15'400, 1, kIdle, 200);
             trace.Switch(20'000, 2, 200, kIdle, 2).Switch(20'050, 2, kIdle, 200);
             trace.Switch(30'000, 0, 96, kIdle, 2).Switch(30'200, 0, kIdle, 96);
             return trace;
         }},
        // Thread 100 is readied by thread 96 running on another processor, by
        // a DPC, by 96 again before 100 has even left its processor (the ready
        // belongs to the next switch-in), and on a processor whose running
        // thread the trace has not shown yet.
        {"readiers",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100);
             trace.Switch(1'000, 0, 96, kIdle).Ready(1'100, 0, 100).Switch(1'200, 0, kIdle, 96);
             trace.Switch(1'300, 1, 100, kIdle).Switch(1'400, 1, kIdle, 100);
             trace.Ready(5'000, 1, 100, etl::kReadiedFromDpc).Switch(5'100, 1, 100, kIdle);
             trace.Switch(5'150, 0, 96, kIdle).Ready(5'200, 0, 100).Switch(5'300, 1, kIdle, 100);
             trace.Switch(5'400, 0, kIdle, 96).Switch(6'000, 1, 100, kIdle).Switch(6'500, 1, kIdle, 100);
             trace.Ready(7'000, 2, 100).Switch(7'100, 1, 100, kIdle).Switch(7'200, 1, kIdle, 100);
             return trace;
         }},
        // Names from version 4's ThreadName, version 3's trailing name, a
        // thread start and SetName; a SetName naming the wrong process is ignored.
        {"thread_names",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe")
                 .NamedThread(720, 96, 4, u"Render loop")
                 .NamedThread(720, 100, 3, u"Timer worker")
                 .Thread(720, 104)
                 .Thread(720, 108)
                 .NamedThread(720, 112, 4, u"Started", kOpcodeStart, 2'000);
             trace.SetName(1'000, 720, 104, u"Named later").SetName(1'000, 999, 108, u"Not this one");
             trace.Switch(3'000, 0, 112, kIdle).Switch(3'100, 0, kIdle, 112);
             return trace;
         }},
        // The header reports lost events and buffers.
        {"lost_events",
         [] {
             WakeTrace trace(LostEvents());
             trace.Process(720, "app.exe").Thread(720, 96);
             trace.Switch(1'000, 0, 96, kIdle).Switch(1'100, 0, kIdle, 96);
             return trace;
         }},
        // Processes and threads only: no wakes, no readies.
        {"no_context_switches",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100);
             return trace;
         }},
        // Thread 96 wakes every 10 ms, then every 15.625 ms: the report puts
        // it first (smallest period 10 ms) at 15ms. Thread 100 has the same
        // largest period in the same process, so the report leaves it out and
        // the view shows no periodicity for it, only its period classes.
        {"periodicity",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100);
             trace.Periodic(96, 0, {{20, 10 * kMillisecond}, {20, 156'250}}).Periodic(100, 1, {{12, 156'250}});
             return trace;
         }},
        // Thread 96 sleeps 50, 1000, 100 and 500 ms, four times over: the
        // report names it 1000ms, but only a quarter of its intervals lie in
        // that class.
        {"irregular_period",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96);
             const WakeTrace::Repeated cycle[] = {
                 {1, 50 * kMillisecond}, {1, 1000 * kMillisecond}, {1, 100 * kMillisecond}, {1, 500 * kMillisecond}};
             trace.Periodic(96, 0, {cycle[0], cycle[1], cycle[2], cycle[3], cycle[0], cycle[1], cycle[2], cycle[3],
                                    cycle[0], cycle[1], cycle[2], cycle[3], cycle[0], cycle[1], cycle[2], cycle[3]});
             return trace;
         }},
        // Thread 100 waits in two places, A (twice) and B, whose outer frame
        // no module covers. It is readied by thread 96 (96's stack), by a
        // timer DPC on idle processor 1 whose event comes only after 100 has
        // run (the DPC's stack), and by a DPC no routine event covers. An
        // interrupt and a DPC at an address outside every module run on
        // processor 3, and one stack names no event.
        {"wait_and_readying_stacks",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100);
             LoadKernelAndApp(trace);
             const std::vector<std::uint64_t> place_a = {kKernelBase + 0x1234, 0x40'1000};
             trace.Switch(1'000, 0, 100, kIdle).Switch(1'100, 0, kIdle, 100).Stack(1'101, 0, 1'100, 720, 100, place_a);
             trace.Switch(1'900, 1, 96, kIdle).Ready(2'000, 1, 100);
             trace.Stack(2'001, 1, 2'000, 720, 96, {kKernelBase + 0x4000, 0x40'2000}).Switch(2'050, 1, kIdle, 96);
             trace.Switch(2'100, 0, 100, kIdle).Switch(2'200, 0, kIdle, 100);
             trace.Stack(2'201, 0, 2'200, 720, 100, {kKernelBase + 0x5678, 0x7F'F000});
             trace.Ready(3'000, 1, 100, etl::kReadiedFromDpc);
             trace.Stack(3'001, 1, 3'000, 0, 0, {kKernelBase + 0x9010, kKernelBase + 0x2000});
             trace.Switch(3'050, 0, 100, kIdle).Routine(3'100, 1, kOpcodeTimerDpc, 2'950, kKernelBase + 0x9000);
             trace.Switch(3'150, 0, kIdle, 100).Stack(3'151, 0, 3'150, 720, 100, place_a);
             trace.Ready(4'000, 1, 100, etl::kReadiedFromDpc).Switch(4'050, 0, 100, kIdle).Switch(4'150, 0, kIdle, 100);
             trace.Routine(4'500, 3, kOpcodeIsr, 4'480, kKernelBase + 0x7000)
                 .Routine(4'600, 3, kOpcodeDpc, 4'590, 0x1'2345);
             trace.Stack(5'000, 3, 4'999, 720, 100, {0x40'1000});
             return trace;
         }},
        // A 32-bit trace: old.dll is unloaded and new.dll loaded at its base;
        // each address reads as the module loaded when its event came, even
        // when the wake that shows it comes after the change.
        {"module_reload_32bit",
         [] {
             WakeTrace trace(ThirtyTwoBit());
             trace.Process(720, "app.exe").Thread(720, 96);
             trace.Image(0, kOpcodeImageDCStart, 720, 0x1000'0000, 0x1'0000, u"C:\\App\\old.dll");
             trace.Switch(1'000, 0, 96, kIdle)
                 .Switch(1'100, 0, kIdle, 96)
                 .Stack(1'101, 0, 1'100, 720, 96, {0x1000'0100});
             trace.Switch(1'500, 0, 96, kIdle)
                 .Switch(1'600, 0, kIdle, 96)
                 .Stack(1'601, 0, 1'600, 720, 96, {0x1000'0100});
             trace.Image(2'000, kOpcodeImageUnload, 720, 0x1000'0000, 0x1'0000, u"C:\\App\\old.dll");
             trace.Image(3'000, kOpcodeImageLoad, 720, 0x1000'0000, 0x8000, u"C:\\App\\new.dll");
             trace.Switch(3'500, 0, 96, kIdle)
                 .Switch(3'600, 0, kIdle, 96)
                 .Stack(3'601, 0, 3'600, 720, 96, {0x1000'0100});
             trace.Switch(4'000, 0, 96, kIdle).Switch(4'100, 0, kIdle, 96);
             return trace;
         }},
        // Stacks through the kernel's stack cache: a kernel and a user part
        // defined after the wake that counts them, a user key never defined
        // (the kernel part alone is shown), and a key reused once dropped.
        {"cached_stacks",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96);
             LoadKernelAndApp(trace);
             trace.Switch(1'000, 0, 96, kIdle).Switch(1'100, 0, kIdle, 96);
             trace.StackKeyReference(1'101, 0, kKernelPart, 1'100, 720, 96, 0xA0)
                 .StackKeyReference(1'102, 0, kUserPart, 1'100, 720, 96, 0xB0);
             trace.Switch(1'500, 0, 96, kIdle).Switch(1'600, 0, kIdle, 96);
             trace.StackKeyReference(1'601, 0, kKernelPart, 1'600, 720, 96, 0xA0)
                 .StackKeyReference(1'602, 0, kUserPart, 1'600, 720, 96, 0xC0);
             trace.Switch(2'000, 0, 96, kIdle)
                 .StackKeyDefinition(2'500, kOpcodeStackKeyDelete, 0xA0, {kKernelBase + 0x1000});
             trace.Switch(2'600, 0, kIdle, 96).StackKeyReference(2'601, 0, kKernelPart, 2'600, 720, 96, 0xA0);
             trace.Switch(3'000, 0, 96, kIdle).Switch(3'100, 0, kIdle, 96);
             trace.StackKeyDefinition(5'000, kOpcodeStackKeyRundown, 0xA0, {kKernelBase + 0x2000})
                 .StackKeyDefinition(5'000, kOpcodeStackKeyRundown, 0xB0, {0x40'1000});
             return trace;
         }},
        // The user part of a wait stack arrives after the wake, as the kernel
        // logs it once the thread is back in user mode: the wake moves from
        // the kernel part alone to the whole stack, and only that is shown.
        {"user_part_after_the_wake",
         [] {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96);
             LoadKernelAndApp(trace);
             trace.Switch(1'000, 0, 96, kIdle).Switch(1'100, 0, kIdle, 96);
             trace.StackKeyReference(1'101, 0, kKernelPart, 1'100, 720, 96, 0xA0);
             trace.Switch(1'500, 0, 96, kIdle);
             trace.StackKeyReference(1'501, 0, kUserPart, 1'100, 720, 96, 0xB0);
             trace.StackKeyDefinition(5'000, kOpcodeStackKeyRundown, 0xA0, {kKernelBase + 0x2000})
                 .StackKeyDefinition(5'000, kOpcodeStackKeyRundown, 0xB0, {0x40'1000});
             return trace;
         }},
        // Timer resolution over 10 s: game.exe holds 1 ms from 2 s to 7 s and
        // player.exe 0.5 ms from 4 s to 5 s, so the machine steps 15.625 → 1
        // → 0.5 → 1 → 15.625 ms; the kernel asks for 2 ms at 6 s and lets go
        // at 6.5 s (marked, finer requests outstanding); tool.exe releases a
        // request it never made; a change of version 0 is counted, not read.
        // Idle wakes at 1, 3, 4.2, 4.4, 4.6, 4.8, 6, 9 and 10 s: four in the
        // second at 0.5 ms (4/s), five in the other nine (0.556/s).
        {"timer_requests",
         [] {
             constexpr std::uint64_t kSecond = 10'000'000;
             WakeTrace trace;
             trace.Process(1200, "game.exe").Thread(1200, 1204);
             for (const std::uint64_t at : {10, 30, 42, 44, 46, 48, 60, 90}) {
                 trace.Switch(at * kSecond / 10, 0, 1204, kIdle).Switch(at * kSecond / 10 + 100, 0, kIdle, 1204);
             }
             trace.Switch(10 * kSecond, 0, 1204, kIdle);
             const std::u16string game = u"\\Device\\HarddiskVolume2\\Games\\game.exe";
             trace.TimerRequest(2 * kSecond, 1200, game, 10'000).TimerRequest(7 * kSecond, 1200, game, 0);
             trace.TimerRequest(4 * kSecond, 1300, u"\\Device\\HarddiskVolume2\\player.exe", 5'000)
                 .TimerRequest(5 * kSecond, 1300, u"\\Device\\HarddiskVolume2\\player.exe", 0);
             trace.PowerEvent(6 * kSecond, kEventTimeResolutionKernelChange, 0,
                              etl::TimeResolutionKernelChangePayload(0, 20'000));
             trace.PowerEvent(6 * kSecond + kSecond / 2, kEventTimeResolutionKernelChange, 0,
                              etl::TimeResolutionKernelChangePayload(0, 0));
             trace.TimerRequest(8 * kSecond, 1400, u"tool.exe", 0);
             trace.PowerEvent(9 * kSecond + 1, kEventTimeResolutionChange, 0,
                              etl::TimeResolutionChangePayload({10'000, 1500, u"old.exe", std::nullopt, 0}));
             return trace;
         }},
        // A 32-bit trace: player.exe held 0.5 ms before the recording began
        // and still holds it when it ends, as the rundowns at both ends say;
        // the stack rundown names where it asked (kernel, then player.exe).
        // Two idle wakes in 10 s at 0.5 ms, and no other time.
        {"timer_rundown_32bit",
         [] {
             constexpr std::uint64_t kSecond = 10'000'000;
             constexpr std::uint64_t kKernel32 = 0x8000'0000;
             WakeTrace trace(ThirtyTwoBit());
             trace.Process(1300, "player.exe").Thread(1300, 1304);
             trace.Image(0, kOpcodeImageDCStart, 0, kKernel32, 0x10'0000, u"\\SystemRoot\\system32\\ntoskrnl.exe")
                 .Image(0, kOpcodeImageDCStart, 1300, 0x40'0000, 0x1'0000, u"C:\\Media\\player.exe");
             const std::u16string player = u"\\Device\\HarddiskVolume2\\Media\\player.exe";
             const std::vector<std::uint64_t> stack = {kKernel32 + 0x1234, 0x40'1000};
             trace.PowerEvent(0, kEventTimeResolutionRundown, 1,
                              etl::TimeResolutionRundownPayload(1, {5'000, 5'000, 156'250, 0, 0, 5'000}));
             trace.TimerRundown(0, 1300, player, 5'000, stack);
             trace.Switch(kSecond, 0, 1304, kIdle).Switch(kSecond + 100, 0, kIdle, 1304);
             trace.Switch(2 * kSecond, 0, 1304, kIdle).Switch(2 * kSecond + 100, 0, kIdle, 1304);
             trace.TimerRundown(10 * kSecond, 1300, player, 5'000, stack);
             return trace;
         }},
        // Names that HTML and JSON must escape.
        {"escaped_names",
         [] {
             WakeTrace trace;
             trace.Process(900, "<script>alert(1)</script>").Thread(900, 904);
             trace.Process(910, "say \"hi\"\\ caf\xC3\xA9 & <b>").Thread(910, 914);
             trace.SetName(1'000, 900, 904, u"</script><img src=x onerror=alert(2)> \u00e9 \U0001F600");
             trace.Switch(2'000, 0, 904, kIdle).Switch(2'100, 0, kIdle, 904);
             trace.Switch(3'000, 1, 914, kIdle).Switch(3'100, 1, kIdle, 914);
             return trace;
         }},
    };
    return cases;
}

bool UpdatingGoldenFiles() {
    const char* update = std::getenv("DORMISCOPE_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
}

ProcessResult RunView(const TemporaryDirectory& directory, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {DORMISCOPE_VIEW_BINARY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return RunProcess(all, directory.path());
}

// The JSON document the page carries (or, by id, another of its JSON
// script elements), with the one escape the page adds undone.
std::string EmbeddedJson(const std::string& page, const std::string& id = "wake-data") {
    const std::string open = "<script type=\"application/json\" id=\"" + id + "\">";
    const std::size_t start = page.find(open);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t end = page.find("</script>", start);
    const std::string_view embedded = std::string_view(page).substr(start + open.size(), end - start - open.size());
    const std::string_view escape = "\\u003c";
    std::string json;
    for (std::size_t at = 0; at < embedded.size();) {
        if (embedded.substr(at, escape.size()) == escape) {
            json += '<';
            at += escape.size();
        } else {
            json += embedded[at++];
        }
    }
    return json;
}

std::filesystem::path GoldenFile(const std::string& name) {
    return std::filesystem::path(DORMISCOPE_GOLDEN_DIR) / "view" / (name + ".json");
}

class ViewGolden : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewGolden, JsonMatchesTheExpectedFileAndThePageCarriesIt) {
    const TemporaryDirectory directory;
    const auto trace = GetParam().trace().Write(directory / "trace.etl");
    const ProcessResult run = RunView(directory, {"-i", trace.string(), "-o", "wakes.html", "--json", "wakes.json"});
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    EXPECT_EQ(run.standard_error, "");
    const std::string json = ReadFile(directory / "wakes.json");
    const std::string page = ReadFile(directory / "wakes.html");
    ASSERT_TRUE(ParseJson(json).has_value()) << "not valid JSON:\n" << json;
    for (const char character : json) {
        ASSERT_LT(static_cast<unsigned char>(character), 0x80) << "the document is not ASCII";
    }
    EXPECT_EQ(EmbeddedJson(page), json) << "the page's figures differ from --json";
    EXPECT_TRUE(ParseJson(EmbeddedJson(page, "flame-data")).has_value())
        << "the flame graphs' stacks are not valid JSON:\n" << EmbeddedJson(page, "flame-data");
    EXPECT_EQ(page.find("<script>alert"), std::string::npos);

    const std::filesystem::path golden = GoldenFile(GetParam().name);
    if (UpdatingGoldenFiles()) {
        std::ofstream(golden, std::ios::binary | std::ios::trunc) << json;
        GTEST_SKIP() << "rewrote " << golden;
    }
    ASSERT_TRUE(std::filesystem::exists(golden)) << golden << " is missing; DORMISCOPE_UPDATE_GOLDEN=1 writes it";
    EXPECT_EQ(json, ReadFile(golden)) << "differs from " << golden;
}

INSTANTIATE_TEST_SUITE_P(Cases, ViewGolden, ::testing::ValuesIn(ViewCases()),
                         [](const ::testing::TestParamInfo<ViewCase>& info) { return info.param.name; });

// The folded exports of the stack cases, in each style, against
// golden/folded/<case>.<style>.folded, worked out by hand from the traces.
TEST(ViewFolded, StacksMatchTheExpectedFilesInEveryStyle) {
    // Threads 96 and 100 wait in the same place; 100 is readied by 96 once,
    // from idle (the readying stack logged only after the wake), and wakes
    // once more from a busy processor.
    const ViewCase shared_wait_stack = {"shared_wait_stack", [] {
        WakeTrace trace;
        trace.Process(720, "app.exe").NamedThread(720, 96, 4, u"pump; main").Thread(720, 100);
        LoadKernelAndApp(trace);
        const std::vector<std::uint64_t> place = {kKernelBase + 0x1234, 0x40'1000};
        trace.Switch(1'000, 0, 96, kIdle).Switch(1'100, 0, kIdle, 96).Stack(1'101, 0, 1'100, 720, 96, place);
        trace.Switch(1'200, 1, 100, kIdle).Switch(1'300, 1, kIdle, 100).Stack(1'301, 1, 1'300, 720, 100, place);
        trace.Switch(2'000, 0, 96, kIdle).Ready(2'100, 0, 100).Switch(2'200, 1, 100, kIdle);
        trace.Stack(2'201, 0, 2'100, 720, 96, {kKernelBase + 0x4000, 0x40'2000});
        trace.Switch(2'300, 1, 96, 100).Stack(2'301, 1, 2'300, 720, 100, place);
        trace.Switch(2'400, 0, 100, 96).Switch(2'500, 0, kIdle, 100);
        return trace;
    }};
    struct Style {
        std::string suffix;
        std::vector<std::string> switches;
    };
    const std::vector<Style> styles = {
        {"wakes", {}},
        {"idle", {"--folded-idle"}},
        {"offwake", {"--folded-offwake"}},
    };
    std::vector<ViewCase> cases = {shared_wait_stack};
    for (const ViewCase& view_case : ViewCases()) {
        if (view_case.name == "wait_and_readying_stacks" || view_case.name == "module_reload_32bit" ||
            view_case.name == "cached_stacks" || view_case.name == "user_part_after_the_wake") {
            cases.push_back(view_case);
        }
    }
    for (const ViewCase& view_case : cases) {
        const TemporaryDirectory directory;
        view_case.trace().Write(directory / "trace.etl");
        for (const Style& style : styles) {
            SCOPED_TRACE(view_case.name + " " + style.suffix);
            std::vector<std::string> arguments = {"-i", "trace.etl", "-o", "wakes.html", "--folded", "stacks.folded"};
            arguments.insert(arguments.end(), style.switches.begin(), style.switches.end());
            const ProcessResult run = RunView(directory, arguments);
            ASSERT_EQ(run.exit_code, 0) << run.standard_error;
            const std::string folded = ReadFile(directory / "stacks.folded");
            const std::filesystem::path golden = std::filesystem::path(DORMISCOPE_GOLDEN_DIR) / "folded" /
                                                 (view_case.name + "." + style.suffix + ".folded");
            if (UpdatingGoldenFiles()) {
                std::ofstream(golden, std::ios::binary | std::ios::trunc) << folded;
                continue;
            }
            ASSERT_TRUE(std::filesystem::exists(golden)) << golden << " is missing";
            EXPECT_EQ(folded, ReadFile(golden)) << "differs from " << golden;
        }
    }
}

// The thread table as CSV: names holding commas, quotes, line ends and
// characters beyond ASCII come back whole through Python's csv module.
TEST(ViewCsv, NamesSurviveARoundTripThroughPythonsCsvModule) {
    const TemporaryDirectory directory;
    WakeTrace trace;
    trace.Process(900, "a,\"b\"\nc.exe").Thread(900, 904).Thread(900, 908);
    trace.SetName(1'000, 900, 904, u"x, \"y\"\r\nz \u00e9");
    trace.Switch(2'000, 0, 904, kIdle, 2).Switch(2'100, 0, kIdle, 904);
    trace.Switch(3'000, 1, 908, kIdle).Ready(3'050, 1, 904).Switch(3'100, 1, 904, 908);
    trace.Write(directory / "trace.etl");
    const ProcessResult run = RunView(directory, {"-i", "trace.etl", "-o", "wakes.html", "--csv", "threads.csv"});
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const std::string script =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    rows = list(csv.reader(f, strict=True))\n"
        "print(json.dumps(rows, ensure_ascii=True))\n";
    std::ofstream(directory / "read.py") << script;
    const ProcessResult read = RunProcess({"/usr/bin/python3", "read.py", "threads.csv"}, directory.path());
    ASSERT_EQ(read.exit_code, 0) << read.standard_error;
    const auto rows = ParseJson(read.standard_output);
    ASSERT_TRUE(rows.has_value()) << read.standard_output;
    ASSERT_EQ(rows->items.size(), 3U);
    const auto field = [&](std::size_t row, std::size_t column) { return rows->items[row].items[column].text; };
    EXPECT_EQ(field(0, 0), u"process");
    EXPECT_EQ(field(0, 3), u"thread");
    for (std::size_t row = 0; row < rows->items.size(); ++row) {
        EXPECT_EQ(rows->items[row].items.size(), rows->items[0].items.size()) << "row " << row;
    }
    EXPECT_EQ(field(1, 0), u"a,\"b\"\nc.exe");
    EXPECT_EQ(field(1, 2), u"904");
    EXPECT_EQ(field(1, 3), u"x, \"y\"\r\nz \u00e9");
    EXPECT_EQ(field(1, 4), u"2");
    EXPECT_EQ(field(1, 7), u"C2 1");
    EXPECT_EQ(field(1, 17), u"a,\"b\"\nc.exe (pid 900) tid 908: 1");
    EXPECT_EQ(field(2, 2), u"908");
    EXPECT_EQ(field(2, 3), u"");
}

// The banner is only for a trace that misses data; what the recording left
// out goes to the calmer notes, with the switch that records it.
TEST(ViewPage, BannerOnlyForMissingDataAndNotesForTheRest) {
    struct Expectation {
        std::string case_name;
        std::vector<std::string> banner;  // empty: no banner at all
        std::vector<std::string> notes;
    };
    const std::vector<Expectation> expectations = {
        {"readiers",
         {},
         {"no stacks on context switches and readies", "-stackwalk CSwitch+ReadyThread", "no image events",
          "no DPC or interrupt events", "DPC+INTERRUPT"}},
        {"lost_events",
         {"lost 1,234 events and 2 buffers"},
         {"no ReadyThread events: who readied each thread is not recorded. Record with dormiscope.wprp, or add "
          "DISPATCHER to xperf"}},
        {"no_context_switches",
         {},
         {"no context-switch events", "Record with dormiscope.wprp, or add CSWITCH to xperf",
          "no ReadyThread events"}},
    };
    for (const Expectation& expectation : expectations) {
        SCOPED_TRACE(expectation.case_name);
        const TemporaryDirectory directory;
        for (const ViewCase& view_case : ViewCases()) {
            if (view_case.name == expectation.case_name) {
                view_case.trace().Write(directory / "trace.etl");
            }
        }
        ASSERT_EQ(RunView(directory, {"-i", "trace.etl", "-o", "wakes.html"}).exit_code, 0);
        const std::string page = ReadFile(directory / "wakes.html");
        const std::size_t banner = page.find("id=\"coverage\"");
        const std::size_t notes = page.find("id=\"notes\"");
        ASSERT_EQ(banner != std::string::npos, !expectation.banner.empty());
        ASSERT_NE(notes, std::string::npos);
        // The banner, when there is one, comes first and holds only its own lines.
        const std::string banner_text = banner == std::string::npos ? "" : page.substr(banner, notes - banner);
        EXPECT_EQ(banner_text.find("Incomplete trace.") != std::string::npos, !expectation.banner.empty());
        for (const std::string& phrase : expectation.banner) {
            EXPECT_NE(banner_text.find(phrase), std::string::npos) << phrase;
        }
        for (const std::string& phrase : expectation.notes) {
            EXPECT_EQ(banner_text.find(phrase), std::string::npos) << phrase;
            EXPECT_NE(page.find(phrase, notes), std::string::npos) << phrase;
        }
    }
}

// The view's periodicity is the report's, thread for thread.
TEST(ViewPage, PeriodicityIsTheReportsForEveryThread) {
    const TemporaryDirectory directory;
    for (const ViewCase& view_case : ViewCases()) {
        if (view_case.name == "periodicity") {
            view_case.trace().Write(directory / "trace.etl");
        }
    }
    ASSERT_EQ(RunView(directory, {"-i", "trace.etl", "-o", "wakes.html", "--json", "wakes.json"}).exit_code, 0);
    const EndToEndRun report_run =
        RunEmulated(directory, "GenuineVexor", {"-i", "trace.etl", "-o", "report.json"});
    ASSERT_EQ(report_run.result.exit_code, 0) << report_run.result.standard_error;
    const auto reported = ReportedThreads(ReadFile(directory / "report.json"));
    ASSERT_TRUE(reported.has_value());

    std::map<std::string, std::string> report_periodicity;
    for (const ReportedThread& thread : *reported) {
        report_periodicity[thread.thread_id] = thread.periodicity;
    }
    const auto document = ParseJson(ReadFile(directory / "wakes.json"));
    ASSERT_TRUE(document.has_value());
    std::size_t periodic = 0;
    for (const JsonValue& process : document->Member(u"processes")->items) {
        for (const JsonValue& thread : process.Member(u"threads")->items) {
            const std::string tid(thread.Member(u"tid")->text.begin(), thread.Member(u"tid")->text.end());
            const JsonValue& periodicity = *thread.Member(u"periodicity");
            if (periodicity.kind == JsonValue::Kind::Null) {
                EXPECT_FALSE(report_periodicity.contains(tid)) << "thread " << tid;
                continue;
            }
            ++periodic;
            EXPECT_EQ(std::string(periodicity.text.begin(), periodicity.text.end()), report_periodicity[tid])
                << "thread " << tid;
        }
    }
    EXPECT_EQ(periodic, report_periodicity.size());
}

// A Windows 10 recording names its threads only in the undescribed tail of
// version 3 thread events, and has no context switches.
TEST(ViewRecordedSample, NamesThreadsFromTheTrailingNamesOfARealTrace) {
    const std::filesystem::path trace = std::filesystem::path(DORMISCOPE_SAMPLES_DIR) / "win10-shutdown-perfdiag.etl";
    if (!std::filesystem::exists(trace)) {
        GTEST_SKIP() << trace << " is missing";
    }
    const TemporaryDirectory directory;
    const ProcessResult run =
        RunView(directory, {"-i", trace.string(), "-o", "wakes.html", "--json", "wakes.json"});
    ASSERT_EQ(run.exit_code, 0) << run.standard_error;
    const auto document = ParseJson(ReadFile(directory / "wakes.json"));
    ASSERT_TRUE(document.has_value());
    std::map<std::u16string, std::vector<std::u16string>> names_by_process;
    for (const JsonValue& process : document->Member(u"processes")->items) {
        for (const JsonValue& thread : process.Member(u"threads")->items) {
            names_by_process[process.Member(u"name")->text].push_back(thread.Member(u"name")->text);
        }
    }
    const auto has = [&](const std::u16string& process, const std::u16string& thread) {
        const auto& names = names_by_process[process];
        return std::find(names.begin(), names.end(), thread) != names.end();
    };
    EXPECT_TRUE(has(u"csrss.exe", u"Win32k Raw Input Thread"));
    EXPECT_TRUE(has(u"dwm.exe", u"DWM LPC Port Thread"));
    EXPECT_EQ(document->Member(u"trace")->Member(u"context_switches")->text, u"0");
    EXPECT_NE(ReadFile(directory / "wakes.html").find("no context-switch events"), std::string::npos);
}

// Raw times inside payloads convert as the events' own stamps do, whatever
// the clock: every stack finds its event, including a ready's stack logged
// after the readied thread ran elsewhere, and the DPC covers its ready.
TEST(ViewClocks, StacksAndRoutinesMatchTheirEventsUnderEveryClock) {
    struct ClockCase {
        std::string label;
        etl::Clock clock;
        std::int64_t perf_freq;
        std::uint32_t cpu_speed_mhz;
    };
    const std::vector<ClockCase> cases = {
        {"performance counter, 10 MHz", etl::Clock::QueryPerformanceCounter, 10'000'000, 0},
        {"performance counter, 3.579545 MHz", etl::Clock::QueryPerformanceCounter, 3'579'545, 0},
        {"performance counter, 24 MHz", etl::Clock::QueryPerformanceCounter, 24'000'000, 0},
        {"system time", etl::Clock::SystemTime, 0, 0},
        {"processor cycles, 2 893 MHz", etl::Clock::CpuCycles, 0, 2'893},
    };
    for (const ClockCase& clock : cases) {
        SCOPED_TRACE(clock.label);
        etl::TraceOptions options;
        options.clock = clock.clock;
        if (clock.perf_freq != 0) {
            options.perf_freq = clock.perf_freq;
        }
        if (clock.cpu_speed_mhz != 0) {
            options.cpu_speed_mhz = clock.cpu_speed_mhz;
        }
        const TemporaryDirectory directory;
        WakeTrace trace(options);
        trace.Process(720, "app.exe").Thread(720, 96).Thread(720, 100);
        LoadKernelAndApp(trace);
        trace.Switch(1'000, 0, 100, kIdle).Switch(1'333, 0, kIdle, 100).Stack(1'334, 0, 1'333, 720, 100, {0x40'1000});
        // Thread 100 runs on processor 0 before the DPC's stack and event come on processor 1.
        trace.Ready(2'017, 1, 100, etl::kReadiedFromDpc).Switch(2'018, 0, 100, kIdle);
        trace.Stack(2'019, 1, 2'017, 0, 0, {kKernelBase + 0x9010});
        trace.Routine(2'031, 1, kOpcodeTimerDpc, 2'003, kKernelBase + 0x9000).Switch(2'100, 0, kIdle, 100);
        trace.Write(directory / "trace.etl");
        ASSERT_EQ(RunView(directory, {"-i", "trace.etl", "-o", "wakes.html", "--json", "wakes.json"}).exit_code, 0);
        const auto document = ParseJson(ReadFile(directory / "wakes.json"));
        ASSERT_TRUE(document.has_value());
        const JsonValue& code = *document->Member(u"trace")->Member(u"code");
        EXPECT_EQ(code.Member(u"stacks_matched")->text, u"2");
        EXPECT_EQ(code.Member(u"readies_from_dpc_not_recorded")->text, u"0");
        const JsonValue& thread = document->Member(u"processes")->items.front().Member(u"threads")->items.front();
        ASSERT_EQ(thread.Member(u"wait_stacks")->items.size(), 1U);
        ASSERT_EQ(thread.Member(u"readying_stacks")->items.size(), 1U);
        EXPECT_EQ(thread.Member(u"readying_stacks")->items.front().Member(u"frames")->items.front().text,
                  u"ntoskrnl.exe+0x9010");
        EXPECT_EQ(thread.Member(u"readiers")->items.front().Member(u"routine")->text, u"ntoskrnl.exe+0x9000");
    }
}

// Code events the view cannot use are counted and named in the notes, not
// the banner: the trace is complete. The rest of the document is still written.
TEST(ViewBadCodeEvents, AreCountedInTheNotes) {
    struct BadCase {
        std::string label;
        std::function<void(WakeTrace&)> add;
        std::u16string counter;  // in the trace's "code"
        std::string phrase;
    };
    const auto cut_stack = [](std::size_t keep) {
        etl::Event stack = etl::StackEvent(0, 0, 0, 720, 96, {kKernelBase + 0x10, 0x40'1000});
        stack.payload.resize(keep);
        return stack;
    };
    const std::vector<BadCase> cases = {
        {"a stack cut inside an address", [&](WakeTrace& trace) { trace.Add(cut_stack(16 + 8 + 3), 1'101); },
         u"stacks_damaged", "1 stack event is truncated, oversized or unreadable"},
        {"a stack cut inside its ids", [&](WakeTrace& trace) { trace.Add(cut_stack(10), 1'101); }, u"stacks_damaged",
         "1 stack event is truncated"},
        {"193 addresses",
         [](WakeTrace& trace) { trace.Stack(1'101, 0, 1'100, 720, 96, std::vector<std::uint64_t>(193, 0x40'1000)); },
         u"stacks_damaged", "1 stack event is truncated"},
        {"a key never defined",
         [](WakeTrace& trace) { trace.StackKeyReference(1'101, 0, kKernelPart, 1'100, 720, 96, 0xD0); },
         u"stack_keys_undefined", "1 stack names a cache key the trace never defines"},
        {"a key definition cut inside an address",
         [](WakeTrace& trace) {
             etl::Event definition =
                 etl::StackKeyDefinitionEvent(0, 0, kOpcodeStackKeyRundown, 0xD0, {kKernelBase + 0x10, 0x40'1000});
             definition.payload.resize(8 + 8 + 3);
             trace.Add(definition, 1'101);
         },
         u"stacks_damaged", "1 stack event is truncated"},
        {"an image of size 0",
         [](WakeTrace& trace) { trace.Image(0, kOpcodeImageLoad, 720, 0x50'0000, 0, u"empty.dll"); }, u"images_ignored",
         "1 image event was empty or overlapped a loaded module"},
        {"overlapping images",
         [](WakeTrace& trace) { trace.Image(10, kOpcodeImageLoad, 720, 0x40'8000, 0x1'0000, u"over.dll"); },
         u"images_ignored", "1 image event was empty or overlapped a loaded module"},
        {"a stack naming no event",
         [](WakeTrace& trace) { trace.Stack(1'201, 0, 1'200, 720, 96, {0x40'1000}); }, u"stacks_unmatched",
         "1 stack matches no event of the trace"},
        {"a profiling sample's stack",
         [](WakeTrace& trace) {
             trace.Add(etl::GroupEvent(0, 0, etl::PerfinfoForm(trace.PointerSize()), kGroupPerfInfo, kSampledProfile, 2,
                                       std::vector<std::uint8_t>(16)),
                       1'200);
             trace.Stack(1'201, 0, 1'200, 720, 96, {0x40'1000});
         },
         u"stacks_of_other_events", "1 stack belongs to events the page does not use"},
    };
    for (const BadCase& bad : cases) {
        SCOPED_TRACE(bad.label);
        const TemporaryDirectory directory;
        WakeTrace trace;
        trace.Process(720, "app.exe").Thread(720, 96);
        LoadKernelAndApp(trace);
        trace.Switch(1'000, 0, 96, kIdle).Switch(1'100, 0, kIdle, 96).Switch(1'500, 0, 96, kIdle);
        bad.add(trace);
        trace.Write(directory / "trace.etl");
        const ProcessResult run = RunView(directory, {"-i", "trace.etl", "-o", "wakes.html", "--json", "wakes.json"});
        ASSERT_EQ(run.exit_code, 0) << run.standard_error;
        EXPECT_EQ(run.standard_error, "");
        const auto document = ParseJson(ReadFile(directory / "wakes.json"));
        ASSERT_TRUE(document.has_value());
        const JsonValue& trace_figures = *document->Member(u"trace");
        const JsonValue& code = *trace_figures.Member(u"code");
        EXPECT_EQ(code.Member(bad.counter)->text, u"1");
        const auto count = [&code](std::u16string_view name) {
            const std::u16string& text = code.Member(name)->text;
            return std::stoull(std::string(text.begin(), text.end()));
        };
        EXPECT_EQ(count(u"stacks"), count(u"stacks_matched") + count(u"stacks_of_other_events") +
                                        count(u"stacks_unmatched") + count(u"stacks_damaged"));
        const JsonValue& threads = *document->Member(u"processes")->items.front().Member(u"threads");
        EXPECT_EQ(threads.items.front().Member(u"wakes")->text, u"2");
        const std::string page = ReadFile(directory / "wakes.html");
        EXPECT_EQ(page.find("id=\"coverage\""), std::string::npos);
        EXPECT_NE(page.find(bad.phrase, page.find("id=\"notes\"")), std::string::npos);
    }
}

// Bad input: a clear message, a non-zero exit, and no page left behind.
TEST(ViewBadInput, RefusesWithAMessageAndLeavesNoPage) {
    struct BadCase {
        std::string label;
        std::function<std::vector<std::string>(const TemporaryDirectory&)> prepare;
        int exit_code;
        std::string message;
    };
    const std::vector<BadCase> cases = {
        {"no output switch", [](const TemporaryDirectory&) { return std::vector<std::string>{"-i", "t.etl"}; }, 2,
         "dormiscope-view: no page given (-o)\nusage: dormiscope-view"},
        {"unknown switch",
         [](const TemporaryDirectory&) {
             return std::vector<std::string>{"-i", "t.etl", "-o", "wakes.html", "--colour", "red"};
         },
         2, "dormiscope-view: unknown switch --colour\nusage: dormiscope-view"},
        {"missing trace",
         [](const TemporaryDirectory&) {
             return std::vector<std::string>{"-i", "missing.etl", "-o", "wakes.html"};
         },
         3, "cannot read the trace missing.etl: no such file\n"},
        {"a directory",
         [](const TemporaryDirectory& directory) {
             std::filesystem::create_directory(directory / "t.etl");
             return std::vector<std::string>{"-i", "t.etl", "-o", "wakes.html"};
         },
         3, "cannot read the trace t.etl: a directory\n"},
        {"not a trace",
         [](const TemporaryDirectory& directory) {
             std::ofstream(directory / "t.etl") << std::string(70000, 'x');
             return std::vector<std::string>{"-i", "t.etl", "-o", "wakes.html"};
         },
         3, "cannot read the trace t.etl: not a trace file\n"},
        {"truncated trace",
         [](const TemporaryDirectory& directory) {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96).Periodic(96, 0, {{40, kMillisecond}});
             const std::string whole = ReadFile(trace.Write(directory / "whole.etl"));
             std::ofstream(directory / "t.etl", std::ios::binary) << whole.substr(0, whole.size() - 1000);
             return std::vector<std::string>{"-i", "t.etl", "-o", "wakes.html"};
         },
         3, "\ndormiscope-view: cannot read the trace t.etl: damaged at offset "},
        {"a header claiming 2147483647 processors",
         [](const TemporaryDirectory& directory) {
             etl::TraceOptions options;
             options.processors = 77;
             WakeTrace trace(options);
             trace.Process(720, "app.exe").Thread(720, 96).Switch(1'000, 0, 96, kIdle);
             std::string bytes = ReadFile(trace.Write(directory / "whole.etl"));
             // BufferSize, Version, ProviderVersion and NumberOfProcessors lead the header event.
             std::string fields;
             for (const std::uint32_t field : {options.buffer_size, options.os_version, options.build, 77U}) {
                 for (int shift = 0; shift < 32; shift += 8) {
                     fields += static_cast<char>(field >> shift & 0xFF);
                 }
             }
             const std::size_t header = bytes.find(fields);
             EXPECT_NE(header, std::string::npos);
             bytes.replace(header + 12, 4, "\xFF\xFF\xFF\x7F");
             std::ofstream(directory / "t.etl", std::ios::binary) << bytes;
             return std::vector<std::string>{"-i", "t.etl", "-o", "wakes.html", "--json", "wakes.json"};
         },
         3, "cannot read the trace t.etl: its header claims 2147483647 processors; a trace can name at most 65536\n"},
        {"page in a missing directory",
         [](const TemporaryDirectory& directory) {
             WakeTrace trace;
             trace.Process(720, "app.exe").Thread(720, 96);
             trace.Write(directory / "t.etl");
             return std::vector<std::string>{"-i", "t.etl", "-o", "no/such/dir/wakes.html", "--json", "wakes.json"};
         },
         4, "cannot write no/such/dir/wakes.html"},
    };
    for (const BadCase& bad : cases) {
        const TemporaryDirectory directory;
        const ProcessResult run = RunView(directory, bad.prepare(directory));
        EXPECT_EQ(run.exit_code, bad.exit_code) << bad.label;
        EXPECT_NE(run.standard_error.find(bad.message), std::string::npos) << bad.label << ": " << run.standard_error;
        for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "t.etl" || name == "whole.etl") << bad.label << " left " << name;
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing

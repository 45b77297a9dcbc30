// Writes the traces the browser test renders besides the sample: wide.etl,
// 10 000 threads in 500 processes on 8 processors, each waking 12 to 40 times
// at its own period, every wake readied by a thread or a DPC;
// hostile-names.etl, whose names are markup; details.etl, one processor
// with a jittering 1 ms thread, an irregular thread, threads that never woke
// and names that sort differently when case counts; and code.etl, a thread
// woken by a timer DPC with its stacks, beside an interrupt.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "etl_writer/code_events.h"
#include "etl_writer/trace_clock.h"
#include "platform/kernel_event_classes.h"
#include "support/kernel_trace.h"

namespace {

using dormiscope::testing::KernelTrace;
namespace etl = dormiscope::etl;

constexpr std::uint32_t kProcesses = 500;
constexpr std::uint32_t kThreadsPerProcess = 20;
constexpr std::uint32_t kProcessors = 8;
constexpr std::uint64_t kPeriods[] = {10'000, 40'000, 156'250, 500'000, 1'000'000};

void WriteWideTrace(const std::filesystem::path& file) {
    etl::TraceOptions options;
    options.processors = kProcessors;
    KernelTrace trace(options);
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    for (std::uint32_t process = 0; process < kProcesses; ++process) {
        const std::uint32_t pid = 1000 + 4 * process;
        trace.ProcessRundown(pid, "service" + std::to_string(process) + ".exe");
        for (std::uint32_t thread = 0; thread < kThreadsPerProcess; ++thread) {
            const std::uint32_t index = process * kThreadsPerProcess + thread;
            const std::uint32_t tid = 100'000 + 4 * index;
            trace.ThreadRundown(pid, tid);
            const std::uint32_t processor = index % kProcessors;
            const std::uint64_t period = kPeriods[index % std::size(kPeriods)];
            const std::uint32_t wakes = 12 + index % 29;
            // Staggered starts; wakes of threads sharing a processor may interleave.
            std::uint64_t now = 400 * (index / kProcessors % 25);
            for (std::uint32_t wake = 0; wake < wakes; ++wake) {
                now += period;
                const bool from_dpc = (wake + index) % 2 == 0;
                trace.Add(etl::ReadyThreadEvent(processor, 0,
                                                {.TThreadId = tid, .Flag = from_dpc ? etl::kReadiedFromDpc : std::uint8_t{0}}),
                          now - 1);
                trace.Add(etl::CSwitchEvent(processor, 0,
                                            etl::CSwitchFields{.NewThreadId = tid, .OldThreadId = 0,
                                                               .PreviousCState = static_cast<std::uint8_t>(1 + wake % 3)}),
                          now);
                trace.ContextSwitch(now + 50, 0, tid, processor);
            }
        }
    }
    trace.Write(file);
}

void WriteHostileNamesTrace(const std::filesystem::path& file) {
    KernelTrace trace;
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    trace.ProcessRundown(900, "<script>alert(1)</script>").ThreadRundown(900, 904);
    trace.ProcessRundown(910, "<img src=x onerror=alert(2)>\"'&amp;").ThreadRundown(910, 914);
    trace.Add(etl::SetNameEvent(0, 0, 900, 904, u"</script><script>alert(3)</script>"), 500);
    trace.ContextSwitch(1'000, 904, 0, 0).ContextSwitch(1'100, 0, 904, 0);
    trace.ContextSwitch(2'000, 914, 0, 1).ContextSwitch(2'100, 0, 914, 1);
    trace.Write(file);
}

// Sleeps of the given lengths (100-ns units) on processor 0 from the trace
// start, each ended by a wake from idle.
void Wakes(KernelTrace& trace, std::uint32_t tid, std::initializer_list<std::uint64_t> sleeps) {
    std::uint64_t now = 0;
    for (const std::uint64_t sleep : sleeps) {
        now += sleep;
        trace.ContextSwitch(now, tid, 0);
        now += 100;
        trace.ContextSwitch(now, 0, tid);
    }
}

void WriteDetailsTrace(const std::filesystem::path& file) {
    etl::TraceOptions options;
    options.processors = 1;
    KernelTrace trace(options);
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    trace.ProcessRundown(100, "alpha.exe").ThreadRundown(100, 104);
    trace.ProcessRundown(200, "Beta.exe").ThreadRundown(200, 204).ThreadRundown(200, 208).ThreadRundown(200, 212);
    trace.ProcessRundown(300, "gamma.exe").ThreadRundown(300, 304);
    // Off the processor 0.96 ms twice, 1.00 ms fourteen times, 1.01 ms three
    // times: p10 0.96, median 1.00, p90 1.01. Done before thread 204 first wakes.
    Wakes(trace, 104,
          {10'000, 9'600, 9'600, 10'000, 10'000, 10'000, 10'000, 10'000, 10'000, 10'000, 10'000, 10'000, 10'000,
           10'000, 10'000, 10'000, 10'000, 10'100, 10'100, 10'100});
    // 50, 1000, 100 and 500 ms, four times each: a quarter of its intervals
    // in the 1000 ms class of its periodicity.
    constexpr std::uint64_t kMs = 10'000;
    Wakes(trace, 204,
          {50 * kMs, 1000 * kMs, 100 * kMs, 500 * kMs, 50 * kMs, 1000 * kMs, 100 * kMs, 500 * kMs, 50 * kMs,
           1000 * kMs, 100 * kMs, 500 * kMs, 50 * kMs, 1000 * kMs, 100 * kMs, 500 * kMs});
    trace.Write(file);
}

// A player thread on processor 0 woken every 10 ms by a timer DPC (the ready
// is logged inside the DPC's run, with the idle thread's stack, and the DPC's
// event when it returns), going off the
// processor through one of two wait stacks, the longer one deep enough to be
// folded; an interrupt every 50 ms on processor 1. The kernel and the player's
// image are loaded before the trace starts.
void WriteCodeTrace(const std::filesystem::path& file) {
    constexpr std::uint64_t kKernelBase = 0xFFFF'F800'0000'0000;
    constexpr std::uint64_t kPlayerBase = 0x40'0000;
    constexpr std::uint64_t kMs = 10'000;
    etl::TraceOptions options;
    options.processors = 2;
    KernelTrace trace(options);
    const auto raw = [&options](std::uint64_t at) {
        return static_cast<std::uint64_t>(etl::RawFromOffset(options, at));
    };
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    trace.ProcessRundown(720, "player.exe").ThreadRundown(720, 724);
    const auto image = [&trace](std::uint32_t pid, std::uint64_t base, std::uint64_t size, std::u16string path) {
        const etl::ImageFields fields{.ImageBase = base, .ImageSize = size, .ProcessId = pid, .FileName = path};
        trace.Add(etl::ImageEvent(0, 0, dormiscope::kOpcodeImageDCStart, dormiscope::kImageVersion, 8, fields), 0);
    };
    image(0, kKernelBase, 0x10'0000, u"\\SystemRoot\\system32\\ntoskrnl.exe");
    image(720, kPlayerBase, 0x1'0000, u"C:\\Program Files\\Player\\player.exe");
    const std::vector<std::uint64_t> deep_wait = {kKernelBase + 0x1100, kKernelBase + 0x1200, kKernelBase + 0x1300,
                                                  kKernelBase + 0x1400, kPlayerBase + 0x2000, kPlayerBase + 0x2100};
    const std::vector<std::uint64_t> short_wait = {kKernelBase + 0x1100, kPlayerBase + 0x3000};
    const std::vector<std::uint64_t> timer_ready = {kKernelBase + 0x9010, kKernelBase + 0x2000};
    for (std::uint64_t wake = 1; wake <= 100; ++wake) {
        const std::uint64_t now = wake * 10 * kMs;
        trace.Add(etl::ReadyThreadEvent(0, 0, {.TThreadId = 724, .Flag = etl::kReadiedFromDpc}), now);
        trace.Add(etl::StackEvent(0, 0, raw(now), 0, 0, timer_ready), now + 1);
        trace.Add(etl::CSwitchEvent(0, 0, etl::CSwitchFields{.NewThreadId = 724, .OldThreadId = 0, .PreviousCState = 1}),
                  now + 50);
        trace.Add(etl::DpcEvent(0, 0, dormiscope::kOpcodeTimerDpc, raw(now - 20), kKernelBase + 0x9000), now + 30);
        trace.ContextSwitch(now + 150, 0, 724, 0);
        trace.Add(etl::StackEvent(0, 0, raw(now + 150), 720, 724, wake % 3 == 0 ? short_wait : deep_wait), now + 151);
        if (wake % 5 == 0) {
            trace.Add(etl::IsrEvent(1, 0, raw(now - 5), kKernelBase + 0x7000, 0x31), now);
        }
    }
    trace.Write(file);
}

// 10 000 distinct wait stacks: 100 threads in 10 processes, each waking 101
// times from idle and going off the processor before each of the last 100
// through a stack of its own, 16 frames deep (8 kernel, 8 user).
void WriteManyStacksTrace(const std::filesystem::path& file) {
    constexpr std::uint64_t kKernelBase = 0xFFFF'F800'0000'0000;
    constexpr std::uint64_t kAppBase = 0x40'0000;
    etl::TraceOptions options;
    options.processors = 4;
    KernelTrace trace(options);
    const auto raw = [&options](std::uint64_t at) {
        return static_cast<std::uint64_t>(etl::RawFromOffset(options, at));
    };
    trace.ProcessRundown(0, "Idle").ThreadRundown(0, 0);
    const auto image = [&trace](std::uint32_t pid, std::uint64_t base, std::uint64_t size, std::u16string path) {
        const etl::ImageFields fields{.ImageBase = base, .ImageSize = size, .ProcessId = pid, .FileName = path};
        trace.Add(etl::ImageEvent(0, 0, dormiscope::kOpcodeImageDCStart, dormiscope::kImageVersion, 8, fields), 0);
    };
    image(0, kKernelBase, 0x100'0000, u"\\SystemRoot\\system32\\ntoskrnl.exe");
    for (std::uint32_t process = 0; process < 10; ++process) {
        const std::uint32_t pid = 1000 + 4 * process;
        trace.ProcessRundown(pid, "service" + std::to_string(process) + ".exe");
        image(pid, kAppBase, 0x100'0000, u"C:\\Service\\service.exe");
        for (std::uint32_t thread = 0; thread < 10; ++thread) {
            trace.ThreadRundown(pid, 100'000 + 1'000 * process + 4 * thread);
        }
    }
    std::uint64_t now = 10'000;
    for (std::uint32_t wake = 0; wake <= 100; ++wake) {
        for (std::uint32_t process = 0; process < 10; ++process) {
            const std::uint32_t pid = 1000 + 4 * process;
            for (std::uint32_t thread = 0; thread < 10; ++thread) {
                const std::uint32_t tid = 100'000 + 1'000 * process + 4 * thread;
                const std::uint32_t processor = thread % 4;
                trace.ContextSwitch(now, tid, 0, processor);
                trace.ContextSwitch(now + 20, 0, tid, processor);
                std::vector<std::uint64_t> frames;
                for (std::uint64_t depth = 0; depth < 8; ++depth) {
                    frames.push_back(kKernelBase + 0x1000 * (depth + 1) + 0x10 * ((wake + depth * thread) % 97));
                }
                for (std::uint64_t depth = 0; depth < 8; ++depth) {
                    frames.push_back(kAppBase + 0x1000 * (depth + 1) + 0x10 * (depth == 0 ? wake : thread));
                }
                trace.Add(etl::StackEvent(processor, 0, raw(now + 20), pid, tid, frames), now + 21);
                now += 25;
            }
        }
    }
    trace.Write(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: browser_traces DIRECTORY\n", stderr);
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    WriteWideTrace(directory / "wide.etl");
    WriteHostileNamesTrace(directory / "hostile-names.etl");
    WriteDetailsTrace(directory / "details.etl");
    WriteCodeTrace(directory / "code.etl");
    WriteManyStacksTrace(directory / "many-stacks.etl");
    return 0;
}

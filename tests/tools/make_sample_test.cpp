// The sample generator: its scenario language, and traces that read back as a
// consistent recording (every context switch continues its processor's
// previous one, periodic threads wake at their period) whose code events a
// viewer can tie to their wakes (each stack right after its event, every
// frame in a loaded module, every ready from a DPC inside a DPC's run).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "make_sample/sample_generator.h"
#include "make_sample/scenario.h"
#include "platform/etw_api.h"
#include "support/temporary_directory.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::sample {
namespace {


Scenario Parse(const std::string& text) {
    std::istringstream stream(text);
    return ParseScenario(stream);
}

TEST(ScenarioTest, ReadsDirectivesQuotedValuesAndDefaults) {
    const Scenario scenario = Parse(R"(# comment with a " quote
seed 42
processors 4
duration_ms 1500
process pid=8 parent=4 image=a.exe session=1 cmd="\"C:\Program Files\a.exe\" -x"
thread tid=12 period_ms=15.625 jitter_ms=0.1 cpu=3 run_us=20 priority=9 name="Timer thread"
thread tid=16
background count=5 threads=2-3 parent=8 images=x.exe,y.exe
noise threads=2 rate_hz=3 run_us=7
launch at_ms=100 life_ms=50 pid=20 parent=8 image=b.exe threads=2
)");
    EXPECT_EQ(scenario.seed, 42u);
    EXPECT_EQ(scenario.processors, 4u);
    EXPECT_EQ(scenario.duration_ms, 1500);
    ASSERT_EQ(scenario.processes.size(), 1u);
    const ProcessSpec& process = scenario.processes[0];
    EXPECT_EQ(process.command_line, R"("C:\Program Files\a.exe" -x)");
    ASSERT_EQ(process.threads.size(), 2u);
    EXPECT_EQ(process.threads[0].name, "Timer thread");
    EXPECT_EQ(process.threads[0].period_ms, 15.625);
    EXPECT_EQ(process.threads[0].cpu, 3u);
    EXPECT_EQ(process.threads[1].period_ms, 0) << "not periodic unless told";
    EXPECT_EQ(scenario.background.images, (std::vector<std::string>{"x.exe", "y.exe"}));
    EXPECT_EQ(scenario.background.threads.max, 3u);
    EXPECT_EQ(scenario.noise.run_us.min, 7u);
    EXPECT_EQ(scenario.noise.run_us.max, 7u);
    ASSERT_EQ(scenario.launches.size(), 1u);
    EXPECT_EQ(scenario.launches[0].process.image, "b.exe");
}

TEST(ScenarioTest, NamesTheLineOfTheFirstMistake) {
    const std::string process = "process pid=8 image=a.exe\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"frobnicate 3\n", "line 1: unknown directive"},
        {"thread tid=4\n", "line 1: a thread needs a process"},
        {process + "thread tid=4 colour=red\n", "line 2: unknown key 'colour'"},
        {process + "thread tid=4 period_ms=fast\n", "line 2: bad number"},
        {process + "thread tid=4\nthread tid=4\n", "line 3: tid given twice"},
        {process + "process pid=8 image=b.exe\n", "line 2: pid given twice"},
        {process + "thread tid=4 period_ms=1 jitter_ms=0.5\n", "line 2: a period must be"},
        {process + "thread tid=4 period_ms=1 run_us=1000\n", "line 2: a periodic thread must run"},
        {"process pid=8 image=\"a.exe\n", "line 1: unterminated quote"},
        {"process image=a.exe\n", "line 1: missing pid="},
        {"processors 0\n", "line 1: processors must be"},
        {"seed 1 2\n", "line 1: seed takes one value"},
        {"noise threads=1-2\n", "line 1: bad number"},
        {"background count=1 threads=3-2 images=a.exe\n", "line 1: threads range is reversed"},
        {process + "thread tid=4 cpu=3\nprocessors 2\n", "cpu 3, which does not exist"},
    };
    for (const auto& [text, message] : cases) {
        try {
            Parse(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos)
                << "for: " << text << "got: " << error.what();
        }
    }
}

struct Delivered {
    std::int64_t time;
    std::uint16_t processor;
    GUID provider;
    std::uint8_t opcode;
    std::vector<std::uint8_t> data;
};

void WINAPI Collect(PEVENT_RECORD record) {
    const auto* data = static_cast<const std::uint8_t*>(record->UserData);
    static_cast<std::vector<Delivered>*>(record->UserContext)
        ->push_back({record->EventHeader.TimeStamp.QuadPart, record->BufferContext.ProcessorIndex,
                     record->EventHeader.ProviderId, record->EventHeader.EventDescriptor.Opcode,
                     std::vector<std::uint8_t>(data, data + record->UserDataLength)});
}

// `raw`: time stamps in the session clock, as stacks and DPCs name their events.
std::vector<Delivered> ReadAll(const std::filesystem::path& path, bool raw = false) {
    std::vector<Delivered> events;
    std::wstring name = path.wstring();
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = name.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD | (raw ? PROCESS_TRACE_MODE_RAW_TIMESTAMP : 0);
    logfile.EventRecordCallback = Collect;
    logfile.Context = &events;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    EXPECT_NE(handle, INVALID_PROCESSTRACE_HANDLE);
    EXPECT_EQ(ProcessTrace(&handle, 1, nullptr, nullptr), ERROR_SUCCESS);
    CloseTrace(handle);
    return events;
}

bool Is(const Delivered& event, const GUID& provider, std::uint8_t opcode) {
    return std::memcmp(&event.provider, &provider, sizeof(GUID)) == 0 && event.opcode == opcode;
}

std::uint32_t U32(const std::vector<std::uint8_t>& data, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

std::uint64_t U64(const std::vector<std::uint8_t>& data, std::size_t offset) {
    std::uint64_t value = 0;
    std::memcpy(&value, data.data() + offset, sizeof value);
    return value;
}

// The UTF-16 file name of a 64-bit Image event, narrowed.
std::string ImageFileName(const std::vector<std::uint8_t>& data) {
    std::string name;
    for (std::size_t offset = 56; offset + 1 < data.size() && (data[offset] != 0 || data[offset + 1] != 0);
         offset += 2) {
        name += static_cast<char>(data[offset]);
    }
    return name;
}

class SampleGeneratorTest : public ::testing::Test {
protected:
    const Scenario scenario_ = Parse(R"(
seed 7
processors 3
duration_ms 3000
process pid=0 image=Idle
process pid=4 image=System
thread tid=8 period_ms=15.625 jitter_ms=0.2 cpu=1 run_us=40
thread tid=12
process pid=300 parent=4 image=svc.exe
thread tid=304 period_ms=100 jitter_ms=1 cpu=2 run_us=300
thread tid=308
background count=6 threads=1-4 parent=300 images=a.exe,b.exe
noise threads=5 rate_hz=20 run_us=50-900
launch at_ms=1000 life_ms=500 pid=900 parent=300 image=child.exe threads=2
)");
    testing::TemporaryDirectory directory_;
};

TEST_F(SampleGeneratorTest, TraceReadsBackAsAConsistentRecording) {
    const std::filesystem::path path = directory_ / "sample.etl";
    const SampleSummary summary = WriteSample(scenario_, path, {});
    const std::vector<Delivered> events = ReadAll(path);
    ASSERT_EQ(events.size(), summary.events + 1);
    EXPECT_EQ(summary.processes, 2u + 1 + 6 + 1);

    std::map<std::string, std::uint64_t> counts;
    std::map<std::uint16_t, std::uint32_t> running;  // processor → thread switched in last
    std::vector<std::int64_t> timer_wakes;
    std::uint64_t switch_ins = 0;
    for (std::size_t i = 1; i < events.size(); ++i) {
        const Delivered& event = events[i];
        ASSERT_LE(events[i - 1].time, event.time) << "event " << i;
        if (Is(event, kThreadProvider, 36)) {
            ++counts["CSwitch"];
            const std::uint32_t new_tid = U32(event.data, 0);
            const std::uint32_t old_tid = U32(event.data, 4);
            EXPECT_EQ(old_tid, running[event.processor]) << "switch " << i << " on cpu " << event.processor;
            EXPECT_NE(new_tid, old_tid);
            running[event.processor] = new_tid;
            switch_ins += new_tid != 0 ? 1 : 0;
            if (new_tid == 8) {
                EXPECT_EQ(event.processor, 1);
                timer_wakes.push_back(event.time);
            }
        } else if (Is(event, kProcessProvider, 1)) {
            ++counts["Process Start"];
            EXPECT_EQ(U32(event.data, 8), 900u);
        } else if (Is(event, kProcessProvider, 2)) {
            ++counts["Process End"];
        } else if (Is(event, kProcessProvider, 3)) {
            ++counts["Process DCStart"];
        } else if (Is(event, kProcessProvider, 4)) {
            ++counts["Process DCEnd"];
        } else if (Is(event, kThreadProvider, 1)) {
            ++counts["Thread Start"];
        } else if (Is(event, kThreadProvider, 2)) {
            ++counts["Thread End"];
        } else if (Is(event, kThreadProvider, 50)) {
            ++counts["ReadyThread"];
        }
    }
    EXPECT_EQ(counts["Process DCStart"], 9u);
    EXPECT_EQ(counts["Process DCEnd"], 9u);
    EXPECT_EQ(counts["Process Start"], 1u);
    EXPECT_EQ(counts["Process End"], 1u);
    EXPECT_EQ(counts["Thread Start"], 2u);
    EXPECT_EQ(counts["Thread End"], 2u);
    EXPECT_EQ(counts["CSwitch"], summary.events_by_kind.at("CSwitch"));
    EXPECT_EQ(counts["ReadyThread"], switch_ins) << "every switch-in is readied";
    for (const auto& [processor, tid] : running) {
        EXPECT_EQ(tid, 0u) << "cpu " << processor << " ends idle";
    }

    // About 3 s / 15.625 ms wakes, each one period after the last within the
    // jitter and the wait for a busy processor.
    ASSERT_GT(timer_wakes.size(), 180u);
    for (std::size_t i = 1; i < timer_wakes.size(); ++i) {
        const std::int64_t interval = timer_wakes[i] - timer_wakes[i - 1];
        EXPECT_GE(interval, 156'250 - 4'000 - 9'000) << "wake " << i;
        EXPECT_LE(interval, 156'250 + 4'000 + 9'000) << "wake " << i;
    }
}

TEST_F(SampleGeneratorTest, TheSameScenarioGivesTheSameBytes) {
    WriteSample(scenario_, directory_ / "one.etl", {});
    WriteSample(scenario_, directory_ / "two.etl", {});
    EXPECT_EQ(testing::ReadFile(directory_ / "one.etl"), testing::ReadFile(directory_ / "two.etl"));
    Scenario reseeded = scenario_;
    reseeded.seed = 8;
    WriteSample(reseeded, directory_ / "three.etl", {});
    EXPECT_NE(testing::ReadFile(directory_ / "one.etl"), testing::ReadFile(directory_ / "three.etl"));
}

TEST_F(SampleGeneratorTest, CodeEventsAreTiedToTheirWakes) {
    const std::filesystem::path path = directory_ / "sample.etl";
    const SampleSummary summary = WriteSample(scenario_, path, {});
    const std::vector<Delivered> events = ReadAll(path, true);

    struct Module {
        std::uint64_t base;
        std::uint64_t end;
        std::string file;
    };
    std::map<std::uint32_t, std::vector<Module>> loaded;  // by process, as the trace goes
    std::set<std::pair<std::uint32_t, std::uint64_t>> identities;
    std::uint64_t image_loads = 0;
    const auto in_module = [&loaded](std::uint32_t pid, std::uint64_t address) {
        for (const std::uint32_t owner : {pid, 0u}) {
            for (const Module& module : loaded[owner]) {
                if (address >= module.base && address < module.end) {
                    return true;
                }
            }
        }
        return false;
    };
    struct ProcessorState {
        std::uint32_t running = 0;
        const Delivered* previous = nullptr;
        std::vector<std::int64_t> readies_from_dpc;  // waiting for the DPC that covers them
    };
    std::map<std::uint16_t, ProcessorState> processors;
    std::map<std::string, std::uint64_t> counts;
    for (std::size_t i = 1; i < events.size(); ++i) {
        const Delivered& event = events[i];
        ProcessorState& processor = processors[event.processor];
        const Delivered* const previous = processor.previous;
        processor.previous = &event;
        if (Is(event, kImageProvider, kOpcodeImageDCStart) || Is(event, kImageProvider, kOpcodeImageLoad)) {
            ++image_loads;
            loaded[U32(event.data, 16)].push_back(
                {U64(event.data, 0), U64(event.data, 0) + U64(event.data, 8), ImageFileName(event.data)});
        } else if (Is(event, kImageProvider, kOpcodeImageUnload)) {
            std::erase_if(loaded[U32(event.data, 16)],
                          [&](const Module& module) { return module.base == U64(event.data, 0); });
        } else if (Is(event, kImageIdentityProvider, kOpcodeImageDebugRecord)) {
            identities.insert({U32(event.data, 8), U64(event.data, 0)});
        } else if (Is(event, kThreadProvider, 36)) {
            processor.running = U32(event.data, 0);
            if (U32(event.data, 4) != 0) {
                ++counts["stacks due"];
            }
            EXPECT_TRUE(processor.readies_from_dpc.empty()) << "a ready from a DPC no DPC covers, event " << i;
            processor.readies_from_dpc.clear();
        } else if (Is(event, kThreadProvider, 50)) {
            ++counts["stacks due"];
            if ((event.data[6] & 1) != 0) {
                processor.readies_from_dpc.push_back(event.time);
            }
        } else if (Is(event, kStackWalkProvider, kOpcodeStack)) {
            ++counts["stacks"];
            // Right after its event, naming the thread that waits or readies.
            ASSERT_NE(previous, nullptr);
            EXPECT_EQ(static_cast<std::int64_t>(U64(event.data, 0)), previous->time) << "stack " << i;
            const std::uint32_t thread = U32(event.data, 12);
            if (Is(*previous, kThreadProvider, 36)) {
                EXPECT_EQ(thread, U32(previous->data, 4)) << "a switch's stack is the old thread's, event " << i;
            } else {
                ASSERT_TRUE(Is(*previous, kThreadProvider, 50)) << "stack " << i << " follows no switch or ready";
                EXPECT_EQ(thread, (previous->data[6] & 1) != 0 ? 0u : processor.running) << "event " << i;
            }
            for (std::size_t offset = 16; offset < event.data.size(); offset += 8) {
                EXPECT_TRUE(in_module(U32(event.data, 8), U64(event.data, offset)))
                    << "stack " << i << " frame " << std::hex << U64(event.data, offset);
            }
        } else if (Is(event, kPerfInfoProvider, kOpcodeTimerDpc) || Is(event, kPerfInfoProvider, kOpcodeDpc) ||
                   Is(event, kPerfInfoProvider, kOpcodeIsr)) {
            ++counts[event.opcode == kOpcodeIsr ? "interrupts" : "dpcs"];
            const auto start = static_cast<std::int64_t>(U64(event.data, 0));
            EXPECT_LE(start, event.time);
            EXPECT_TRUE(in_module(0, U64(event.data, 8))) << "routine of event " << i;
            std::erase_if(processor.readies_from_dpc,
                          [&](std::int64_t ready) { return ready >= start && ready <= event.time; });
        }
    }
    EXPECT_EQ(counts["stacks"], counts["stacks due"]) << "every ready and every switch-out of a thread";
    EXPECT_EQ(counts["stacks"], summary.events_by_kind.at("Stack"));
    EXPECT_GT(counts["dpcs"], 180u) << "at least the timer-driven wakes";
    EXPECT_GT(counts["interrupts"], 0u);
    EXPECT_EQ(identities.size(), summary.events_by_kind.at("Image DbgID_RSDS"));
    EXPECT_EQ(image_loads, identities.size()) << "every module with its PDB's identity";
    const auto has_module = [&](std::uint32_t pid, const std::string& file) {
        return std::any_of(loaded[pid].begin(), loaded[pid].end(),
                           [&](const Module& module) { return module.file.ends_with(file); });
    };
    EXPECT_TRUE(has_module(0, "\\ntoskrnl.exe"));
    EXPECT_TRUE(has_module(300, "\\svc.exe"));
    EXPECT_TRUE(has_module(300, "\\ntdll.dll"));
    EXPECT_FALSE(has_module(900, "\\child.exe")) << "unloaded when the launched process ended";
}

}  // namespace
}  // namespace dormiscope::sample

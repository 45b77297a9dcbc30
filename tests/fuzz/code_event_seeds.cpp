#include "code_event_seeds.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "etl_writer/code_events.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/timer_resolution_events.h"
#include "platform/kernel_event_classes.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::fuzz {

namespace {

using etl::Event;

struct NamedEvent {
    std::string name;
    Event event;
};

std::vector<std::uint64_t> Frames(std::size_t count, std::uint32_t pointer_size) {
    std::vector<std::uint64_t> frames;
    const std::uint64_t base = pointer_size == 4 ? 0x7710'0000 : 0xFFFF'F800'0100'0000;
    for (std::size_t index = 0; index < count; ++index) {
        frames.push_back(base + index * 0x31);
    }
    return frames;
}

// Every timer-resolution layout, and payloads none explains: a name or a
// stack counted past the payload, an odd name count, a version not known.
template <typename Add>
void AddTimerResolutionEvents(const Add& add, std::uint32_t pointer_size) {
    const auto power = [&](std::uint16_t id, std::uint8_t version, std::vector<std::uint8_t> payload) {
        return etl::KernelPowerEvent(0, 0, id, version, 1234, pointer_size, std::move(payload));
    };
    const etl::TimerRequestFields request{10000, 1234, u"\\Device\\HarddiskVolume2\\game.exe", std::nullopt, 62};
    const etl::TimerStackFields stack{Frames(3, pointer_size), std::nullopt};
    add("timer-change", power(kEventTimeResolutionChange, 1, etl::TimeResolutionChangePayload(request)));
    add("timer-release", power(kEventTimeResolutionChange, 1,
                               etl::TimeResolutionChangePayload({0, 1234, u"game.exe", std::nullopt, 0})));
    for (const std::uint8_t version : {0, 1}) {
        const std::string suffix = "-v" + std::to_string(version);
        add("timer-rundown" + suffix,
            power(kEventTimeResolutionRundown, version, etl::TimeResolutionRundownPayload(version, {})));
        add("timer-kernel-change" + suffix, power(kEventTimeResolutionKernelChange, version,
                                                  etl::TimeResolutionKernelChangePayload(version, 10000, 7)));
    }
    add("timer-request-rundown",
        power(kEventTimeResolutionRequestRundown, 0, etl::TimeResolutionRequestRundownPayload(request)));
    add("timer-stack-rundown",
        power(kEventTimerResolutionStackRundown, 0,
              etl::TimerResolutionStackRundownPayload(request, stack, pointer_size)));

    etl::TimerRequestFields name_past_payload = request;
    name_past_payload.AppNameLength = 0xFFFF;
    add("timer-name-past-payload",
        power(kEventTimeResolutionChange, 1, etl::TimeResolutionChangePayload(name_past_payload)));
    etl::TimerRequestFields odd_name = request;
    odd_name.AppNameLength = static_cast<std::uint16_t>(2 * request.AppName.size() + 1);
    add("timer-odd-name-length",
        power(kEventTimeResolutionRequestRundown, 0, etl::TimeResolutionRequestRundownPayload(odd_name)));
    add("timer-stack-past-payload",
        power(kEventTimerResolutionStackRundown, 0,
              etl::TimerResolutionStackRundownPayload(request, {stack.Stack, 0x4000'0000}, pointer_size)));
    add("timer-change-v0", power(kEventTimeResolutionChange, 0, etl::TimeResolutionChangePayload(request)));
}

// Every form, in time order on one processor.
std::vector<NamedEvent> CodeEvents(std::uint32_t pointer_size) {
    std::vector<NamedEvent> events;
    std::int64_t raw = 2'000'000;
    const auto add = [&](std::string name, Event event) {
        event.raw_timestamp = raw;
        raw += 1000;
        events.push_back({std::move(name), std::move(event)});
    };
    etl::ImageFields image;
    image.ImageBase = pointer_size == 4 ? 0x7710'0000 : 0x7FF8'1234'0000;
    image.ImageSize = 0x2'0000;
    image.ProcessId = 1234;
    image.DefaultBase = image.ImageBase;
    image.FileName = u"\\Windows\\System32\\ntdll.dll";
    for (const std::uint16_t version : {kImageVersionWin7, kImageVersion}) {
        for (const std::uint8_t opcode : {kOpcodeImageLoad, kOpcodeImageUnload, kOpcodeImageDCStart, kOpcodeImageDCEnd}) {
            add("image-v" + std::to_string(version) + "-op" + std::to_string(opcode),
                etl::ImageEvent(0, raw, opcode, version, pointer_size, image));
        }
    }
    etl::ImageIdentityFields identity;
    identity.ImageBase = image.ImageBase;
    identity.ProcessId = image.ProcessId;
    identity.PdbGuid = {0x1234'5678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    identity.Age = 2;
    identity.PdbFileName = "ntdll.pdb";
    add("identity", etl::ImageIdentityEvent(0, raw, pointer_size, identity));

    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, kMaxStackFrames, kMaxStackFrames + 1, std::size_t{250}}) {
        const std::string frames = std::to_string(count);
        add("stack-" + frames, etl::StackEvent(0, raw, raw - 10, 1234, 5678, Frames(count, pointer_size), pointer_size));
        for (const std::uint8_t opcode : {kOpcodeStackKeyDelete, kOpcodeStackKeyRundown}) {
            add("stack-key-op" + std::to_string(opcode) + "-" + frames,
                etl::StackKeyDefinitionEvent(0, raw, opcode, 0xFFFF'A000'0000'0040 + count,
                                             Frames(count, pointer_size), pointer_size));
        }
    }
    for (const std::uint8_t opcode : {kOpcodeStackKeyKernel, kOpcodeStackKeyUser}) {
        add("stack-reference-op" + std::to_string(opcode),
            etl::StackKeyReferenceEvent(0, raw, opcode, raw - 10, 1234, 5678, 0xFFFF'A000'0000'0041, pointer_size));
    }
    for (const std::uint8_t opcode : {kOpcodeThreadedDpc, kOpcodeDpc, kOpcodeTimerDpc}) {
        add("dpc-op" + std::to_string(opcode),
            etl::DpcEvent(0, raw, opcode, raw - 500, Frames(1, pointer_size)[0], pointer_size));
    }
    add("isr", etl::IsrEvent(0, raw, raw - 300, Frames(1, pointer_size)[0], 0x81, pointer_size));

    // Cut: half an address, inside the ids, inside a DPC's routine.
    Event partial = etl::StackEvent(0, raw, raw - 10, 1234, 5678, Frames(3, pointer_size), pointer_size);
    partial.payload.resize(partial.payload.size() - pointer_size / 2);
    add("stack-partial-address", std::move(partial));
    Event ids = etl::StackEvent(0, raw, raw - 10, 1234, 5678, Frames(3, pointer_size), pointer_size);
    ids.payload.resize(10);
    add("stack-cut-in-ids", std::move(ids));
    Event dpc = etl::DpcEvent(0, raw, kOpcodeDpc, raw - 500, Frames(1, pointer_size)[0], pointer_size);
    dpc.payload.resize(dpc.payload.size() - 1);
    add("dpc-cut", std::move(dpc));
    AddTimerResolutionEvents(add, pointer_size);
    return events;
}

// As a trace, the events follow a process, its thread and the context
// switches their stacks name, so that the wake view reads past its first
// checks and attributes them.
void WriteTrace(const std::filesystem::path& file, std::uint32_t pointer_size, const std::vector<NamedEvent>& events) {
    constexpr std::uint32_t kProcess = 1234;
    constexpr std::uint32_t kThread = 5678;
    etl::TraceOptions options;
    options.pointer_size = pointer_size;
    options.processors = 1;
    options.buffer_size = 16384;
    etl::EtlWriter writer(file, options);
    const std::int64_t first = events.front().event.raw_timestamp;
    etl::ProcessFields process;
    process.ProcessId = kProcess;
    process.ParentId = 4;
    process.ImageFileName = "app.exe";
    process.CommandLine = u"C:\\app.exe";
    writer.Add(etl::ProcessEvent(0, first - 300, kOpcodeDCStart, 4, pointer_size, process));
    etl::ThreadFields thread;
    thread.ProcessId = kProcess;
    thread.TThreadId = kThread;
    writer.Add(etl::ThreadEvent(0, first - 200, kOpcodeDCStart, 3, pointer_size, thread));
    for (const NamedEvent& event : events) {
        // The thread wakes, and waits again in the switch its stack names.
        if (event.event.group == kGroupStackWalk && event.name.rfind("stack-key", 0) != 0) {
            const std::int64_t named = event.event.raw_timestamp - 10;
            writer.Add(etl::CSwitchEvent(0, named - 10, {.NewThreadId = kThread, .OldThreadId = 0}, pointer_size));
            writer.Add(etl::CSwitchEvent(0, named, {.NewThreadId = 0, .OldThreadId = kThread}, pointer_size));
        }
        writer.Add(event.event);
    }
    writer.Finish();
}

// The decoding-plan target's form: [provider][opcode][version][flags][length, 2 bytes][payload];
// a Kernel-Power event's id takes the opcode's place.
std::string RecordPlanInput(const Event& event, std::uint32_t pointer_size) {
    std::uint8_t provider = 6;  // PerfInfo
    std::uint8_t type = event.type;
    if (SameGuid(event.provider, kKernelPowerProvider)) {
        provider = 7;
        type = static_cast<std::uint8_t>(event.event_id);
    } else if (SameGuid(event.provider, kImageIdentityProvider)) {
        provider = 4;
    } else if (event.group == kGroupImage) {
        provider = 3;
    } else if (event.group == kGroupStackWalk) {
        provider = 5;
    }
    const std::uint8_t flags = pointer_size == 8 ? 0 : 1;  // the 64-bit or 32-bit header flag
    std::string input{static_cast<char>(provider), static_cast<char>(type),
                      static_cast<char>(event.version & 0xFF), static_cast<char>(flags),
                      static_cast<char>(event.payload.size() & 0xFF), static_cast<char>(event.payload.size() >> 8)};
    input.append(event.payload.begin(), event.payload.end());
    return input;
}

}  // namespace

void WriteCodeEventSeeds(const std::filesystem::path& trace_corpus, const std::filesystem::path& record_plan_corpus) {
    std::filesystem::create_directories(record_plan_corpus);
    for (const std::uint32_t pointer_size : {4u, 8u}) {
        const std::string bits = pointer_size == 4 ? "32" : "64";
        const std::vector<NamedEvent> events = CodeEvents(pointer_size);
        WriteTrace(trace_corpus / ("code-events-" + bits + ".seed"), pointer_size, events);
        for (const NamedEvent& event : events) {
            std::ofstream(record_plan_corpus / (event.name + "-" + bits + ".seed"), std::ios::binary | std::ios::trunc)
                << RecordPlanInput(event.event, pointer_size);
        }
    }
}

}  // namespace dormiscope::fuzz

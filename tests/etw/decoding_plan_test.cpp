// Every record read from a decoding plan equals the record read through the
// Trace Data Helper alone, return value included: over every event of the
// recorded samples and of written traces of every version and pointer size,
// with each record reader.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "etl_writer/code_events.h"
#include "etl_writer/kernel_events.h"
#include "etw/event_records.h"
#include "etw/stack_event_records.h"
#include "support/kernel_trace.h"
#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

using testing::KernelTrace;
using testing::TemporaryDirectory;

const std::filesystem::path kSamplesDir = DORMISCOPE_SAMPLES_DIR;

struct Comparison {
    std::uint64_t events = 0;
    std::uint64_t differences = 0;
    std::uint64_t complete_switches = 0;
    std::string first_difference;
};

// Field by field: the records' padding is not part of what they hold.
template <typename Record>
bool SameRecord(const Record& planned, const Record& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.ProcessorNumber == helper.ProcessorNumber &&
           planned.payload == helper.payload;
}

bool SameRecord(const ProcessEventData& planned, const ProcessEventData& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.ProcessorNumber == helper.ProcessorNumber &&
           planned.fixedPart == helper.fixedPart && planned.text1 == helper.text1 && planned.text2 == helper.text2 &&
           planned.text3 == helper.text3 && planned.text4 == helper.text4;
}

bool SameRecord(const ImageEventData& planned, const ImageEventData& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.opcode == helper.opcode &&
           planned.ImageBase == helper.ImageBase && planned.ImageSize == helper.ImageSize &&
           planned.ProcessId == helper.ProcessId && planned.ImageCheckSum == helper.ImageCheckSum &&
           planned.TimeDateStamp == helper.TimeDateStamp && planned.FileName == helper.FileName;
}

bool SameRecord(const ImageIdentityEventData& planned, const ImageIdentityEventData& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.ImageBase == helper.ImageBase &&
           planned.ProcessId == helper.ProcessId && planned.PdbGuid == helper.PdbGuid && planned.Age == helper.Age &&
           planned.PdbFileName == helper.PdbFileName;
}

bool SameRecord(const StackEventData& planned, const StackEventData& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.ProcessorNumber == helper.ProcessorNumber &&
           planned.opcode == helper.opcode && planned.EventTimeStamp == helper.EventTimeStamp &&
           planned.StackProcess == helper.StackProcess && planned.StackThread == helper.StackThread &&
           planned.StackKey == helper.StackKey && planned.frames == helper.frames &&
           planned.frames_read == helper.frames_read;
}

bool SameRecord(const RoutineEventData& planned, const RoutineEventData& helper) {
    return planned.TimeStamp == helper.TimeStamp && planned.ProcessorNumber == helper.ProcessorNumber &&
           planned.opcode == helper.opcode && planned.InitialTime == helper.InitialTime &&
           planned.Routine == helper.Routine && planned.ReturnValue == helper.ReturnValue &&
           planned.Vector == helper.Vector;
}

template <typename Record, typename Planned, typename Helper>
void Compare(const EVENT_RECORD& event, Comparison& comparison, const char* reader, Planned planned_read,
             Helper helper_read) {
    Record planned;
    Record helper;
    const bool planned_complete = planned_read(event, planned);
    const bool helper_complete = helper_read(event, helper);
    if (planned_complete != helper_complete || !SameRecord(planned, helper)) {
        if (comparison.differences++ == 0) {
            const EVENT_DESCRIPTOR& descriptor = event.EventHeader.EventDescriptor;
            comparison.first_difference = std::string(reader) + " on event " + std::to_string(comparison.events) +
                                          ", opcode " + std::to_string(descriptor.Opcode) + ", version " +
                                          std::to_string(descriptor.Version) + ", payload " +
                                          std::to_string(event.UserDataLength) + " bytes";
        }
    }
}

void WINAPI CompareReaders(PEVENT_RECORD event) {
    auto& comparison = *static_cast<Comparison*>(event->UserContext);
    using ThreadRead = bool (*)(const EVENT_RECORD&, ThreadEventData&);
    using CSwitchRead = bool (*)(const EVENT_RECORD&, CSwitchEventData&);
    Compare<ThreadEventData>(*event, comparison, "thread", static_cast<ThreadRead>(ReadEventProperties),
                             static_cast<ThreadRead>(ReadEventPropertiesThroughHelper));
    Compare<CSwitchEventData>(*event, comparison, "context switch", static_cast<CSwitchRead>(ReadEventProperties),
                              static_cast<CSwitchRead>(ReadEventPropertiesThroughHelper));
    Compare<ProcessEventData>(*event, comparison, "process", ReadProcessEventProperties,
                              ReadProcessEventPropertiesThroughHelper);
    Compare<ImageEventData>(*event, comparison, "image", ReadImageProperties, ReadImagePropertiesThroughHelper);
    Compare<ImageIdentityEventData>(*event, comparison, "image identity", ReadImageIdentityProperties, ReadImageIdentityPropertiesThroughHelper);
    Compare<StackEventData>(*event, comparison, "stack", ReadStackProperties, ReadStackPropertiesThroughHelper);
    Compare<RoutineEventData>(*event, comparison, "routine", ReadRoutineProperties, ReadRoutinePropertiesThroughHelper);
    CSwitchEventData record;
    comparison.complete_switches += ReadEventProperties(*event, record) ? 1 : 0;
    ++comparison.events;
}

Comparison CompareOverTrace(const std::filesystem::path& path) {
    Comparison comparison;
    std::wstring wide_path = path.wstring();
    EVENT_TRACE_LOGFILEW log_file{};
    log_file.LogFileName = wide_path.data();
    log_file.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    log_file.EventRecordCallback = CompareReaders;
    log_file.Context = &comparison;
    TRACEHANDLE handle = OpenTraceW(&log_file);
    EXPECT_NE(handle, INVALID_PROCESSTRACE_HANDLE) << path;
    ProcessTrace(&handle, 1, nullptr, nullptr);
    CloseTrace(handle);
    return comparison;
}

TEST(DecodingPlan, RecordedSamplesReadTheSameAsThroughTheHelper) {
    if (!std::filesystem::exists(kSamplesDir)) {
        GTEST_SKIP() << "no recorded samples at " << kSamplesDir;
    }
    for (const auto& entry : std::filesystem::directory_iterator(kSamplesDir)) {
        if (entry.path().extension() != ".etl") {
            continue;
        }
        const Comparison comparison = CompareOverTrace(entry.path());
        EXPECT_GT(comparison.events, 1000U) << entry.path();
        EXPECT_EQ(comparison.differences, 0U) << entry.path() << ": first at " << comparison.first_difference;
    }
}

// Every version and pointer size of each event kind, repeated so the
// plans get used, with shortened events in between that no plan can vouch
// for and a shortened one ahead of the first whole one of its class.
TEST(DecodingPlan, WrittenTracesOfEveryVersionAndPointerSizeReadTheSame) {
    TemporaryDirectory directory;
    for (const std::uint32_t pointer_size : {4U, 8U}) {
        etl::TraceOptions options;
        options.pointer_size = pointer_size;
        KernelTrace trace(options);
        std::uint64_t at = 10;
        const auto add = [&](etl::Event event) {
            for (int repeat = 0; repeat < 3; ++repeat) {
                trace.Add(event, at++);
            }
            for (const std::size_t cut : {std::size_t{1}, event.payload.size() / 2}) {
                etl::Event shortened = event;
                shortened.payload.resize(event.payload.size() >= cut ? event.payload.size() - cut : 0);
                trace.Add(shortened, at++);
            }
            trace.Add(event, at++);
        };
        for (std::uint16_t version = 0; version <= 5; ++version) {
            etl::ProcessFields fields;
            fields.ProcessId = 400 + version;
            fields.ImageFileName = "image" + std::to_string(version) + ".exe";
            fields.CommandLine = u"C:\\image.exe -x";
            for (const std::uint8_t opcode : {kOpcodeStart, kOpcodeDCStart}) {
                add(etl::ProcessEvent(0, 0, opcode, version, pointer_size, fields));
            }
        }
        for (std::uint16_t version = 0; version <= 4; ++version) {
            etl::ThreadFields fields;
            fields.ProcessId = 400;
            fields.TThreadId = 900 + version;
            fields.StackBase = 0x1122334455667788;
            fields.ThreadFlags = 3;
            add(etl::ThreadEvent(1, 0, kOpcodeStart, version, pointer_size, fields));
            if (version >= 3) {
                add(etl::ThreadEvent(1, 0, kOpcodeDCStart, version, pointer_size, fields, u"worker"));
            }
        }
        for (std::uint16_t version = 2; version <= 5; ++version) {
            etl::CSwitchFields fields{.NewThreadId = 900, .OldThreadId = 901, .NewThreadPriority = -3,
                                      .PreviousCState = 2, .OldThreadWaitReason = 6, .NewThreadWaitTime = 77,
                                      .Reserved = 0x348876d8};
            etl::Event event = etl::CSwitchEvent(2, 0, fields, pointer_size);
            event.version = version;
            // The shortened one first: the class must not be planned from it.
            etl::Event shortened = event;
            shortened.payload.resize(10);
            trace.Add(shortened, at++);
            add(event);
        }
        const std::uint64_t base = pointer_size == 4 ? 0x8A10'0000 : 0xFFFF'F801'6AA0'0000;
        for (const std::uint16_t version : {kImageVersionWin7, kImageVersion}) {
            const etl::ImageFields fields{.ImageBase = base, .ImageSize = 0x4000, .ProcessId = 400,
                                          .FileName = u"\\SystemRoot\\system32\\drivers\\x.sys"};
            add(etl::ImageEvent(3, 0, kOpcodeImageLoad, version, pointer_size, fields));
            add(etl::ImageEvent(3, 0, kOpcodeImageDCEnd, version, pointer_size, fields));
        }
        add(etl::ImageIdentityEvent(3, 0, pointer_size, {.ImageBase = base, .ProcessId = 400, .PdbFileName = "x.pdb"}));
        const std::vector<std::uint64_t> frames = {base + 1, base + 2, base + 3};
        add(etl::StackEvent(4, 0, 99, 400, 900, frames, pointer_size));
        add(etl::StackKeyDefinitionEvent(4, 0, kOpcodeStackKeyDelete, base + 8, frames, pointer_size));
        add(etl::StackKeyReferenceEvent(4, 0, kOpcodeStackKeyKernel, 99, 400, 900, base + 8, pointer_size));
        for (const std::uint8_t opcode : {kOpcodeThreadedDpc, kOpcodeDpc, kOpcodeTimerDpc}) {
            add(etl::DpcEvent(5, 0, opcode, 50, base + 0x40, pointer_size));
        }
        add(etl::IsrEvent(5, 0, 60, base + 0x80, 0x61, pointer_size));
        const auto path = trace.Write(directory / ("trace" + std::to_string(pointer_size) + ".etl"));
        const Comparison comparison = CompareOverTrace(path);
        EXPECT_GT(comparison.complete_switches, 0U);
        EXPECT_EQ(comparison.differences, 0U) << "pointer size " << pointer_size << ": first at "
                                              << comparison.first_difference;
    }
}

}  // namespace
}  // namespace dormiscope

// Reads arbitrary events with every record reader twice, from the decoding
// plans and through the Trace Data Helper alone, and stops at the first
// record or result that differs. An input is a run of events, each
// [kind][opcode][version][flags][length, 2 bytes little-endian][payload...],
// long enough for a stack beyond the kernel's 192 frames, so one input can
// teach a plan and then hand it events it must not vouch for.
//
// The last kind is a Kernel-Power event (EVENT_HEADER form) whose id is the
// opcode byte. The helper has no schema for it, so its reader is checked
// against the trace writer instead: a record it vouches for must be written
// back, by the writer's own builders, to exactly the payload it came from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "etw/event_records.h"
#include "etw/record_layout.h"
#include "etw/stack_event_records.h"
#include "etw/timer_resolution_records.h"
#include "etw/wake_event_records.h"
#include "etl_writer/timer_resolution_events.h"
#include "platform/kernel_event_classes.h"
#include "platform/kernel_power_events.h"

namespace {

using dormiscope::CSwitchEventData;
using dormiscope::ProcessEventData;
using dormiscope::ReadyThreadEventData;
using dormiscope::ThreadEventData;
using dormiscope::ThreadNameEventData;

constexpr GUID kOtherProvider = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

// Field by field: the records' padding is not part of what they hold.
template <typename Record>
bool Same(const Record& a, const Record& b) {
    return a.TimeStamp == b.TimeStamp && a.ProcessorNumber == b.ProcessorNumber && a.payload == b.payload;
}

bool Same(const ProcessEventData& a, const ProcessEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.ProcessorNumber == b.ProcessorNumber && a.fixedPart == b.fixedPart &&
           a.text1 == b.text1 && a.text2 == b.text2 && a.text3 == b.text3 && a.text4 == b.text4;
}

bool Same(const ReadyThreadEventData& a, const ReadyThreadEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.HeaderThreadId == b.HeaderThreadId && a.TThreadId == b.TThreadId &&
           a.Flag == b.Flag;
}

bool Same(const ThreadNameEventData& a, const ThreadNameEventData& b) {
    return a.ProcessId == b.ProcessId && a.ThreadId == b.ThreadId && a.name == b.name;
}

bool Same(const dormiscope::ImageEventData& a, const dormiscope::ImageEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.opcode == b.opcode && a.ImageBase == b.ImageBase &&
           a.ImageSize == b.ImageSize && a.ProcessId == b.ProcessId && a.ImageCheckSum == b.ImageCheckSum &&
           a.TimeDateStamp == b.TimeDateStamp && a.FileName == b.FileName;
}

bool Same(const dormiscope::ImageIdentityEventData& a, const dormiscope::ImageIdentityEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.ImageBase == b.ImageBase && a.ProcessId == b.ProcessId &&
           a.PdbGuid == b.PdbGuid && a.Age == b.Age && a.PdbFileName == b.PdbFileName;
}

bool Same(const dormiscope::StackEventData& a, const dormiscope::StackEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.ProcessorNumber == b.ProcessorNumber && a.opcode == b.opcode &&
           a.EventTimeStamp == b.EventTimeStamp && a.StackProcess == b.StackProcess &&
           a.StackThread == b.StackThread && a.StackKey == b.StackKey && a.frames == b.frames &&
           a.frames_read == b.frames_read;
}

bool Same(const dormiscope::RoutineEventData& a, const dormiscope::RoutineEventData& b) {
    return a.TimeStamp == b.TimeStamp && a.ProcessorNumber == b.ProcessorNumber && a.opcode == b.opcode &&
           a.InitialTime == b.InitialTime && a.Routine == b.Routine && a.ReturnValue == b.ReturnValue &&
           a.Vector == b.Vector;
}

template <typename Record>
void Check(const EVENT_RECORD& event, bool (*planned_read)(const EVENT_RECORD&, Record&),
           bool (*helper_read)(const EVENT_RECORD&, Record&)) {
    Record planned;
    Record helper;
    if (planned_read(event, planned) != helper_read(event, helper) || !Same(planned, helper)) {
        __builtin_trap();
    }
}

void CheckAllReaders(const EVENT_RECORD& event) {
    Check<dormiscope::ImageEventData>(event, dormiscope::ReadImageProperties, dormiscope::ReadImagePropertiesThroughHelper);
    Check<dormiscope::ImageIdentityEventData>(event, dormiscope::ReadImageIdentityProperties, dormiscope::ReadImageIdentityPropertiesThroughHelper);
    Check<dormiscope::StackEventData>(event, dormiscope::ReadStackProperties, dormiscope::ReadStackPropertiesThroughHelper);
    Check<dormiscope::RoutineEventData>(event, dormiscope::ReadRoutineProperties, dormiscope::ReadRoutinePropertiesThroughHelper);
    Check<ThreadEventData>(event, dormiscope::ReadEventProperties, dormiscope::ReadEventPropertiesThroughHelper);
    Check<CSwitchEventData>(event, dormiscope::ReadEventProperties, dormiscope::ReadEventPropertiesThroughHelper);
    Check<ProcessEventData>(event, dormiscope::ReadProcessEventProperties,
                            dormiscope::ReadProcessEventPropertiesThroughHelper);
    // The wake view's readers.
    Check<ReadyThreadEventData>(event, dormiscope::ReadReadyThreadProperties,
                                dormiscope::ReadReadyThreadPropertiesThroughHelper);
    Check<ThreadNameEventData>(event, dormiscope::ReadSetNameProperties,
                               dormiscope::ReadSetNamePropertiesThroughHelper);
    Check<ThreadNameEventData>(event, dormiscope::ReadThreadEventName, dormiscope::ReadThreadEventNameThroughHelper);
}

// The payload the writer builds for a record the reader vouched for.
std::vector<std::uint8_t> WrittenBack(const dormiscope::TimerResolutionEventData& record, std::uint32_t pointer_size) {
    namespace etl = dormiscope::etl;
    // The reader drops the name's trailing zero units; the count keeps them.
    std::u16string name = record.AppName;
    name.resize(record.AppNameLength, u'\0');
    const etl::TimerRequestFields request{record.Requested, record.Pid, name, std::nullopt, record.SubProcessTag};
    switch (record.id) {
        case dormiscope::kEventTimeResolutionChange:
            return etl::TimeResolutionChangePayload(request);
        case dormiscope::kEventTimeResolutionRequestRundown:
            return etl::TimeResolutionRequestRundownPayload(request);
        case dormiscope::kEventTimerResolutionStackRundown:
            return etl::TimerResolutionStackRundownPayload(request, {record.Stack, record.StackSize}, pointer_size);
        case dormiscope::kEventTimeResolutionRundown:
            return etl::TimeResolutionRundownPayload(
                record.version, {record.CurrentPeriod, record.MinimumPeriod, record.MaximumPeriod,
                                 record.KernelRequestCount, record.KernelRequestedPeriod, record.InternalSetPeriod});
        case dormiscope::kEventTimeResolutionKernelChange:
            return etl::TimeResolutionKernelChangePayload(record.version, record.Requested, record.Tag);
        default:
            __builtin_trap();
    }
}

void CheckTimerResolutionReader(const EVENT_RECORD& event, const std::vector<std::uint8_t>& payload) {
    dormiscope::TimerResolutionEventData record;
    const dormiscope::TimerResolutionRead read = dormiscope::ReadTimerResolutionEvent(event, record);
    if (read != dormiscope::TimerResolutionRead::kRead) {
        return;
    }
    const std::uint32_t pointer_size = (event.EventHeader.Flags & EVENT_HEADER_FLAG_32_BIT_HEADER) != 0 &&
                                               (event.EventHeader.Flags & EVENT_HEADER_FLAG_64_BIT_HEADER) == 0
                                           ? 4
                                           : 8;
    if (WrittenBack(record, pointer_size) != payload) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Each input teaches its own plans: one found failing fails again alone,
    // and the classes of millions of inputs do not pile up.
    dormiscope::ForgetDecodingPlans();
    constexpr std::size_t kHeader = 6;
    std::size_t position = 0;
    while (size - position >= kHeader) {
        const std::uint8_t* const header = data + position;
        const std::size_t length = std::min<std::size_t>(header[4] | header[5] << 8, size - position - kHeader);
        // An exact copy, so the sanitizer catches any read past the payload.
        const std::vector<std::uint8_t> payload(data + position + kHeader, data + position + kHeader + length);
        position += kHeader + length;

        EVENT_RECORD event{};
        const GUID* const providers[] = {&dormiscope::kProcessProvider,       &dormiscope::kThreadProvider,
                                         &kOtherProvider,                     &dormiscope::kImageProvider,
                                         &dormiscope::kImageIdentityProvider, &dormiscope::kStackWalkProvider,
                                         &dormiscope::kPerfInfoProvider,      &dormiscope::kKernelPowerProvider};
        event.EventHeader.ProviderId = *providers[header[0] % std::size(providers)];
        const bool manifest_event = dormiscope::SameGuid(event.EventHeader.ProviderId, dormiscope::kKernelPowerProvider);
        if (manifest_event) {
            event.EventHeader.EventDescriptor.Id = header[1];
        } else {
            event.EventHeader.EventDescriptor.Opcode = header[1];
        }
        event.EventHeader.EventDescriptor.Version = header[2];
        const USHORT flag_choices[] = {EVENT_HEADER_FLAG_64_BIT_HEADER, EVENT_HEADER_FLAG_32_BIT_HEADER, 0,
                                       EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER};
        event.EventHeader.Flags = static_cast<USHORT>(flag_choices[header[3] % 4] |
                                                      (manifest_event ? 0 : EVENT_HEADER_FLAG_CLASSIC_HEADER));
        event.EventHeader.TimeStamp.QuadPart = static_cast<LONGLONG>(position);
        event.BufferContext.ProcessorNumber = header[3];
        event.UserDataLength = static_cast<USHORT>(payload.size());
        event.UserData = payload.empty() ? nullptr : const_cast<std::uint8_t*>(payload.data());
        if (manifest_event) {
            CheckTimerResolutionReader(event, payload);
        } else {
            CheckAllReaders(event);
        }
    }
    return 0;
}

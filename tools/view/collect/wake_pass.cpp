#include "view/collect/wake_pass.h"

#include <cstddef>

#include "etw/etw_parser.h"
#include "etw/event_records.h"
#include "etw/logfile_header_field.h"
#include "etw/stack_event_records.h"
#include "etw/timer_resolution_records.h"
#include "model/trace_passes.h"
#include "platform/kernel_event_classes.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::view {
namespace {

struct PassContext {
    RunContext& run;
    WakeCollector& collector;
    WakeReading& reading;  // its module maps and image counts
    // Reused so that a stack's addresses cost no allocation per event.
    StackEventData stack;
};

PassContext& ContextOf(void* context) {
    return *static_cast<PassContext*>(context);
}

std::uint32_t ProcessorOf(const EVENT_RECORD& event) {
    return (event.EventHeader.Flags & EVENT_HEADER_FLAG_PROCESSOR_INDEX) != 0 ? event.BufferContext.ProcessorIndex
                                                                             : event.BufferContext.ProcessorNumber;
}

// An event whose stack the view does not use: the stack is told apart from
// one that matches nothing.
void NoteOtherEvent(const EVENT_RECORD& event, PassContext& pass) {
    pass.collector.OtherEvent(ProcessorOf(event), event.EventHeader.TimeStamp.QuadPart);
}

void OnContextSwitch(const EVENT_RECORD& event, const TraceInfo* info, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    CSwitchEventData record;
    if (!ReadEventProperties(event, record)) {
        return;
    }
    pass.run.model.CSwitchEvent(record, static_cast<std::uint64_t>(info->StartTime));
    pass.collector.ContextSwitch(ProcessorOf(event), record.TimeStamp,
                                 ReadField(record.payload, cswitch_field::kNewThreadId),
                                 ReadField(record.payload, cswitch_field::kOldThreadId),
                                 ReadField(record.payload, cswitch_field::kPreviousCState));
}

void OnReadyThread(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    ReadyThreadEventData record;
    if (ReadReadyThreadProperties(event, record)) {
        pass.collector.ReadyThread(ProcessorOf(event), record);
    }
}

void OnImage(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    ImageEventData record;
    if (ReadImageProperties(event, record)) {
        ++pass.reading.images;
        pass.reading.modules.Add(record);
        pass.collector.ImagesChanged();
    }
}

void OnImageIdentity(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    ImageIdentityEventData record;
    if (ReadImageIdentityProperties(event, record)) {
        ++pass.reading.image_identities;
        pass.reading.modules.Add(record);
    }
}

void OnStack(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    if (ReadStackProperties(event, pass.stack)) {
        pass.collector.Stack(ProcessorOf(event), pass.stack);
    } else {
        pass.collector.UnreadableStack();
    }
}

// Events of kinds the view does not read (profiling samples, disk and file
// I/O, page faults, …): not counted among the events read.
void OnOtherEvent(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    NoteOtherEvent(event, ContextOf(context));
}

void OnRoutine(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    RoutineEventData record;
    if (ReadRoutineProperties(event, record)) {
        pass.collector.Routine(ProcessorOf(event), record);
    }
}

void OnPowerEvent(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    // Still an event whose stack the view does not match, as before it was read.
    NoteOtherEvent(event, pass);
    TimerResolutionEventData record;
    switch (ReadTimerResolutionEvent(event, record)) {
        case TimerResolutionRead::kRead:
            pass.collector.CountEvent(ProcessorOf(event));
            pass.reading.timer_requests.Event(record, pass.collector.idle_wakes());
            break;
        case TimerResolutionRead::kUnknownLayout:
            pass.collector.CountEvent(ProcessorOf(event));
            pass.reading.timer_requests.UnknownLayout();
            break;
        case TimerResolutionRead::kOtherEvent:
            break;
    }
}

void OnSetName(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    ThreadNameEventData record;
    if (ReadSetNameProperties(event, record)) {
        pass.collector.ThreadName(record);
    }
}

void TakeThreadName(const EVENT_RECORD& event, PassContext& pass) {
    ThreadNameEventData record;
    if (ReadThreadEventName(event, record)) {
        pass.collector.ThreadName(record);
    }
}

void NoteThreadSeen(const ThreadEventData& record, PassContext& pass) {
    if (const ThreadEntry* const thread = pass.run.model.ThreadIndex.Find(ReadField(record.payload,
                                                                                    thread_field::kTThreadId))) {
        pass.reading.thread_seen_at.try_emplace(thread, record.TimeStamp);
    }
}

// Starts register the thread as the report's second pass does, then name it.
void OnThreadStarted(const EVENT_RECORD& event, const TraceInfo* info, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    OnThreadStart(event, info, &pass.run);
    ThreadEventData record;
    if (ReadEventProperties(event, record)) {
        pass.collector.ThreadRegistered(ReadField(record.payload, thread_field::kTThreadId));
        NoteThreadSeen(record, pass);
    }
    TakeThreadName(event, pass);
}

// Rundowns and ends only name threads: the first pass registered the rundown.
void OnThreadNamed(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    ThreadEventData record;
    if (ReadEventProperties(event, record)) {
        NoteThreadSeen(record, pass);
    }
    TakeThreadName(event, pass);
}

void OnProcessStarted(const EVENT_RECORD& event, const TraceInfo* info, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
    OnProcessStart(event, info, &pass.run);
}

void OnProcessEvent(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    PassContext& pass = ContextOf(context);
    pass.collector.CountEvent(ProcessorOf(event));
    NoteOtherEvent(event, pass);
}

TraceHeaderFacts FactsOf(const TRACE_LOGFILE_HEADER& header) {
    TraceHeaderFacts facts;
    facts.processors = header.NumberOfProcessors;
    facts.pointer_size = header.PointerSize;
    facts.events_lost = header.EventsLost;
    facts.timer_resolution = header.TimerResolution;
    facts.buffers_lost = ReadLogfileHeaderField<std::uint32_t>(header, offsetof(TRACE_LOGFILE_HEADER, BuffersLost));
    return facts;
}

std::uint64_t CoveredDuration(const TraceCoverage& coverage, std::int64_t start) {
    // Unsigned: the stamps come from the file, and their signed difference may not fit.
    return coverage.last_event_time > start
               ? static_cast<std::uint64_t>(coverage.last_event_time) - static_cast<std::uint64_t>(start)
               : 0;
}

}  // namespace

WakeReading ReadWakes(RunContext& run) {
    WakeReading reading;
    reading.status = FirstPassParsing(run);
    if (reading.status != 0) {
        return reading;
    }
    auto collector = std::make_unique<WakeCollector>(run.model);
    PassContext context{run, *collector, reading, {}};
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    reading.status = parser.Open(run.input_path, header, &context);
    if (reading.status != 0) {
        return reading;
    }
    reading.header = FactsOf(header);
    if (reading.header.processors > kMostProcessors) {
        parser.Close();
        reading.refusal = "its header claims " + std::to_string(reading.header.processors) +
                          " processors; a trace can name at most " + std::to_string(kMostProcessors);
        return reading;
    }
    reading.coverage = run.coverage;
    reading.duration = run.coverage.CutShort() ? CoveredDuration(run.coverage, parser.Info().StartTime)
                                               : run.trace_duration;
    collector->SetWindow({parser.Info().StartTime, reading.duration});
    reading.timer_requests.SetWindow({parser.Info().StartTime, reading.duration});
    const std::optional<ClockReference> clock = parser.Clock();
    std::optional<TimeConverter> converter = clock ? TimeConverter::Create(*clock) : std::nullopt;
    reading.clock_known = converter.has_value();
    collector->SetClock(converter);
    parser.AddEventCallback({kThreadProvider, kOpcodeCSwitch}, OnContextSwitch);
    parser.AddEventCallback({kThreadProvider, kOpcodeReadyThread}, OnReadyThread);
    parser.AddEventCallback({kThreadProvider, kOpcodeSetName}, OnSetName);
    parser.AddEventCallback({kThreadProvider, kOpcodeStart}, OnThreadStarted);
    parser.AddEventCallback({kThreadProvider, kOpcodeEnd}, OnThreadNamed);
    parser.AddEventCallback({kThreadProvider, kOpcodeDCStart}, OnThreadNamed);
    parser.AddEventCallback({kThreadProvider, kOpcodeDCEnd}, OnThreadNamed);
    parser.AddEventCallback({kProcessProvider, kOpcodeStart}, OnProcessStarted);
    parser.AddEventCallback({kProcessProvider, kOpcodeEnd}, OnProcessEvent);
    for (const std::uint8_t opcode : {kOpcodeImageLoad, kOpcodeImageUnload, kOpcodeImageDCStart, kOpcodeImageDCEnd}) {
        parser.AddEventCallback({kImageProvider, opcode}, OnImage);
    }
    for (const std::uint8_t opcode : {kOpcodeImageDebugRecord, kOpcodeImageDebugRecordIl}) {
        parser.AddEventCallback({kImageIdentityProvider, opcode}, OnImageIdentity);
    }
    for (const std::uint8_t opcode : {kOpcodeStack, kOpcodeStackKeyDelete, kOpcodeStackKeyRundown,
                                      kOpcodeStackKeyKernel, kOpcodeStackKeyUser}) {
        parser.AddEventCallback({kStackWalkProvider, opcode}, OnStack);
    }
    for (const std::uint8_t opcode : {kOpcodeThreadedDpc, kOpcodeIsr, kOpcodeDpc, kOpcodeTimerDpc}) {
        parser.AddEventCallback({kPerfInfoProvider, opcode}, OnRoutine);
    }
    parser.SetOtherEventCallback(OnOtherEvent);
    // The power manager logs its timer-resolution events without an opcode.
    parser.AddEventCallback({kKernelPowerProvider, 0}, OnPowerEvent);
    reading.status = parser.Process();
    parser.Close();
    if (reading.status == 0) {
        collector->Finish();
        reading.timer_requests.Finish(collector->idle_wakes());
        reading.collector = std::move(collector);
    }
    return reading;
}

}  // namespace dormiscope::view

#include "log/logger.h"
#include "model/trace_passes.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

void ListModel(const TraceModel& model) {
    Logger& log = Logger::Instance();
    const auto process_count = static_cast<std::uint64_t>(model.ProcessList.size());
    log.Stream(LEVEL_DEBUG) << "Process list size : " << process_count << "\n";
    log.Stream(LEVEL_DEBUG) << "Total No of Processes : " << process_count << "\n";
    log.Stream(LEVEL_DEBUG) << "List of Process Names : " << "\n";
    for (const auto& [process_id, process] : model.ProcessList) {
        log.Stream(LEVEL_DEBUG) << "Process Name :" << process.ImageFileName << "Process ID :" << process.ProcessId
                                << "\n";
    }
    log.Stream(LEVEL_DEBUG) << "List of Threads Ids: " << static_cast<std::uint64_t>(model.ThreadList.size()) << "\n";
    for (const auto& [sequence, thread] : model.ThreadList) {
        log.Stream(LEVEL_DEBUG) << "Thread Id :" << thread->TThreadId << "\n";
    }
}

}  // namespace

void OnCSwitch(const EVENT_RECORD& event, const TraceInfo* info, void* context) {
    CSwitchEventData record;
    if (!ReadEventProperties(event, record)) {
        return;
    }
    static_cast<RunContext*>(context)->model.CSwitchEvent(record, static_cast<std::uint64_t>(info->StartTime));
}

void OnThreadEnd(const EVENT_RECORD& event, const TraceInfo*, void*) {
    ThreadEventData record;
    ReadEventProperties(event, record);
}

void OnProcessEnd(const EVENT_RECORD& event, const TraceInfo*, void*) {
    ProcessEventData record;
    ReadProcessEventProperties(event, record);
}

std::uint32_t SecondPassParsing(RunContext& run) {
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    const std::uint32_t open_status = parser.Open(run.input_path, header, &run);
    if (open_status != ERROR_SUCCESS) {
        Logger::Instance().Log("Failed in SecondPassParsing: In mapping of Process, Thread, CSwitched Events",
                               LEVEL_ERROR);
        return open_status;
    }
    parser.ShowProgress("Second pass");
    parser.AddEventCallback({kThreadProvider, kOpcodeCSwitch}, OnCSwitch);
    parser.AddEventCallback({kThreadProvider, kOpcodeStart}, OnThreadStart);
    parser.AddEventCallback({kThreadProvider, kOpcodeEnd}, OnThreadEnd);
    parser.AddEventCallback({kProcessProvider, kOpcodeStart}, OnProcessStart);
    parser.AddEventCallback({kProcessProvider, kOpcodeEnd}, OnProcessEnd);
    const std::uint32_t status = parser.Process();
    parser.Close();
    ListModel(run.model);
    return status;
}

}  // namespace dormiscope

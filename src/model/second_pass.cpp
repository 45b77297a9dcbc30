#include "etw/kernel_guids.h"
#include "log/logger.h"
#include "model/trace_passes.h"

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
    parser.AddEventCallback({ThreadProviderGuid, OPCODE_CSWITCH}, OnCSwitch);
    parser.AddEventCallback({ThreadProviderGuid, OPCODE_START}, OnThreadStart);
    parser.AddEventCallback({ThreadProviderGuid, OPCODE_END}, OnThreadEnd);
    parser.AddEventCallback({ProcessProviderGuid, OPCODE_START}, OnProcessStart);
    parser.AddEventCallback({ProcessProviderGuid, OPCODE_END}, OnProcessEnd);
    const std::uint32_t status = parser.Process();
    parser.Close();
    ListModel(run.model);
    return status;
}

}  // namespace dormiscope

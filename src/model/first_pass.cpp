#include "log/logger.h"
#include "model/trace_passes.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {

void OnProcessStart(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    ProcessEventData record;
    if (!ReadProcessEventProperties(event, record)) {
        return;
    }
    static_cast<RunContext*>(context)->model.AddProcess(record);
}

void OnThreadStart(const EVENT_RECORD& event, const TraceInfo*, void* context) {
    ThreadEventData record;
    if (!ReadEventProperties(event, record)) {
        return;
    }
    auto* const run = static_cast<RunContext*>(context);
    run->model.AddThread(record.payload, run->trace_duration);
}

std::uint32_t FirstPassParsing(RunContext& run) {
    ETWParser parser;
    TRACE_LOGFILE_HEADER header{};
    std::uint32_t status = parser.Open(run.input_path, header, &run);
    if (status == ERROR_SUCCESS) {
        const TraceInfo& info = parser.Info();
        run.trace_duration = static_cast<std::uint64_t>(info.EndTime) - static_cast<std::uint64_t>(info.StartTime);
        Logger::Instance().Log(
            FormatLogMessage("Length: %f seconds ", static_cast<double>(run.trace_duration) / 10000000.0), LEVEL_DEBUG);
        parser.ShowProgress("First pass");
        parser.AddEventCallback({kThreadProvider, kOpcodeDCStart}, OnThreadStart);
        parser.AddEventCallback({kProcessProvider, kOpcodeDCStart}, OnProcessStart);
        status = parser.Process();
        run.coverage = {parser.BuffersRead(), header.BuffersWritten, parser.Info().currentTimeStamp};
        if (status == ERROR_SUCCESS && run.coverage.CutShort()) {
            Logger::Instance().Stream(LEVEL_WARNING)
                << "Trace file holds only " << std::uint64_t{run.coverage.buffers_read} << " of the "
                << std::uint64_t{run.coverage.buffers_written}
                << " buffers its header counts: the recording was cut short" << "\n";
        }
        parser.Close();
    }
    Logger::Instance().Log("First Parsing End ", LEVEL_INFO);
    return status;
}

}  // namespace dormiscope

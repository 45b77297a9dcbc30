// One trace file opened for processing: its mapping, its logfile header and
// the consumer's callback, and the delivery of its events.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/etw_api.h"
#include "platform/logfile_header.h"
#include "platform/mapped_file.h"
#include "platform/time_conversion.h"

namespace dormiscope {

class TraceSession {
public:
    // The session for the file at `path`, or empty when it cannot be read or
    // does not start like a trace file.
    static std::unique_ptr<TraceSession> Open(const std::filesystem::path& path, ULONG process_trace_mode,
                                              PEVENT_RECORD_CALLBACK callback, PVOID context);

    const LogfileInfo& Logfile() const { return logfile_; }

    // Delivers the logfile-header event, then every other event of the file
    // in time order, to the callback, synchronously. Events whose converted
    // time lies outside [start, end] are not delivered when the bound is given.
    // Stops with ERROR_CANCELLED after the current event once RequestClose()
    // was called (from within a callback).
    ULONG Process(const FILETIME* start, const FILETIME* end);

    void RequestClose() { close_requested_.store(true, std::memory_order_relaxed); }

private:
    TraceSession(MappedFile mapping, LogfileInfo logfile, ULONG process_trace_mode,
                 PEVENT_RECORD_CALLBACK callback, PVOID context);

    MappedFile mapping_;
    LogfileInfo logfile_;
    std::optional<TimeConverter> converter_;
    ULONG process_trace_mode_;
    PEVENT_RECORD_CALLBACK callback_;
    PVOID context_;
    std::atomic<bool> close_requested_{false};
};

}  // namespace dormiscope

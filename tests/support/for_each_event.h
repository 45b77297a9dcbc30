// Every event of a trace file, in delivery order, to a function: the consumer
// functions' calling sequence for tests that look at real recordings.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/etw_api.h"

namespace dormiscope::testing {

using EventVisit = std::function<void(const EVENT_RECORD&)>;

inline void WINAPI VisitEvent(PEVENT_RECORD event) {
    (*static_cast<EventVisit*>(event->UserContext))(*event);
}

inline void ForEachEvent(const std::filesystem::path& path, EventVisit visit) {
    std::wstring wide_path = path.wstring();
    EVENT_TRACE_LOGFILEW log_file{};
    log_file.LogFileName = wide_path.data();
    log_file.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    log_file.EventRecordCallback = VisitEvent;
    log_file.Context = &visit;
    TRACEHANDLE handle = OpenTraceW(&log_file);
    ASSERT_NE(handle, INVALID_PROCESSTRACE_HANDLE) << path;
    EXPECT_EQ(ProcessTrace(&handle, 1, nullptr, nullptr), 0U);
    CloseTrace(handle);
}

}  // namespace dormiscope::testing

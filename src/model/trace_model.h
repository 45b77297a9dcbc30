// The processes and threads of a trace and their off-processor intervals.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "etw/event_records.h"
#include "model/histogram.h"
#include "model/thread_id_table.h"

namespace dormiscope {

struct ThreadEntry {
    std::uint32_t ProcessId = 0;
    std::uint32_t TThreadId = 0;
    std::uint64_t StackBase = 0;
    std::uint64_t StackLimit = 0;
    std::uint64_t UserStackBase = 0;
    std::uint64_t UserStackLimit = 0;
    std::uint64_t Affinity = 0;
    std::uint64_t Win32StartAddr = 0;
    std::uint64_t TebBase = 0;
    std::uint32_t SubProcessTag = 0;
    std::uint8_t BasePriority = 0;
    std::uint8_t PagePriority = 0;
    std::uint8_t IoPriority = 0;
    std::uint8_t ThreadFlags = 0;

    std::uint64_t last_switch_out = 0;
    std::vector<std::uint64_t> periods;
    HISTOGRAM period_histogram;
    std::set<std::int64_t> significant_periods;
    std::uint64_t trace_duration = 0;
    std::uint64_t sequence = 0;
};

struct ProcessEntry {
    std::uint64_t UniqueProcessKey = 0;
    std::uint32_t ProcessId = 0;
    std::uint32_t ParentId = 0;
    std::uint32_t SessionId = 0;
    std::int32_t ExitStatus = 0;
    std::uint64_t DirectoryTableBase = 0;
    std::uint32_t Flags = 0;
    std::string ImageFileName;
    std::u16string CommandLine;
    // Node-based: entries never move, so the indexes below may hold their addresses.
    std::unordered_map<std::uint64_t, ThreadEntry> threads;
};

using ThreadPayload = decltype(ThreadEventData::payload);

class TraceModel {
public:
    void AddProcess(const ProcessEventData& record);
    void AddThread(const ThreadPayload& payload, std::uint64_t trace_duration);
    void CSwitchEvent(const CSwitchEventData& record, std::uint64_t start);

    std::unordered_map<std::uint64_t, ThreadEntry*> ThreadList;
    std::unordered_map<std::uint64_t, ProcessEntry> ProcessList;
    std::unordered_map<std::uint32_t, ProcessEntry*> ProcessIndex;
    ThreadIdTable ThreadIndex;
    std::uint64_t next_sequence = 0;
    std::uint64_t min_period = 10000;
    std::uint64_t max_period = 10000000;
};

}  // namespace dormiscope

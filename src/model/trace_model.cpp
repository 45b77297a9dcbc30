#include "model/trace_model.h"

#include <span>

#include "log/logger.h"
#include "platform/etl_reader/little_endian.h"

namespace dormiscope {
namespace {

ThreadEntry ThreadFromPayload(const ThreadPayload& payload) {
    namespace field = thread_field;
    ThreadEntry entry;
    entry.ProcessId = ReadField(payload, field::kProcessId);
    entry.TThreadId = ReadField(payload, field::kTThreadId);
    entry.StackBase = ReadField(payload, field::kStackBase);
    entry.StackLimit = ReadField(payload, field::kStackLimit);
    entry.UserStackBase = ReadField(payload, field::kUserStackBase);
    entry.UserStackLimit = ReadField(payload, field::kUserStackLimit);
    entry.Affinity = ReadField(payload, field::kAffinity);
    entry.Win32StartAddr = ReadField(payload, field::kWin32StartAddr);
    entry.TebBase = ReadField(payload, field::kTebBase);
    entry.SubProcessTag = ReadField(payload, field::kSubProcessTag);
    entry.BasePriority = ReadField(payload, field::kBasePriority);
    entry.PagePriority = ReadField(payload, field::kPagePriority);
    entry.IoPriority = ReadField(payload, field::kIoPriority);
    entry.ThreadFlags = ReadField(payload, field::kThreadFlags);
    return entry;
}

void LogUnknownThread(std::uint32_t thread_id) {
    Logger::Instance().Log(FormatLogMessage("CSwitchEvent: Unknown Thread. ThreadID: %u\n", std::uint64_t{thread_id}),
                           LEVEL_INFO);
}

}  // namespace

void TraceModel::AddProcess(const ProcessEventData& record) {
    namespace field = process_field;
    ProcessEntry entry;
    entry.UniqueProcessKey = ReadField(record.fixedPart, field::kUniqueProcessKey);
    entry.ProcessId = ReadField(record.fixedPart, field::kProcessId);
    entry.ParentId = ReadField(record.fixedPart, field::kParentId);
    entry.SessionId = ReadField(record.fixedPart, field::kSessionId);
    entry.ExitStatus = ReadField(record.fixedPart, field::kExitStatus);
    entry.DirectoryTableBase = ReadField(record.fixedPart, field::kDirectoryTableBase);
    entry.Flags = ReadField(record.fixedPart, field::kFlags);
    entry.ImageFileName = record.text2;
    entry.CommandLine = Utf16Prefix(std::span(reinterpret_cast<const std::uint8_t*>(record.text3.data()),
                                              record.text3.size()));

    const std::uint32_t process_id = entry.ProcessId;
    // The first registration of an id wins; later ones are dropped whole.
    const auto [stored, inserted] = ProcessList.try_emplace(process_id, std::move(entry));
    ProcessIndex[process_id] = &stored->second;
}

void TraceModel::AddThread(const ThreadPayload& payload, std::uint64_t trace_duration) {
    ThreadEntry entry = ThreadFromPayload(payload);
    entry.trace_duration = trace_duration;
    entry.sequence = next_sequence;

    const auto process = ProcessIndex.find(entry.ProcessId);
    if (process == ProcessIndex.end()) {
        Logger::Instance().Log(FormatLogMessage("Warning: Unknown process: %lu\n", std::uint64_t{entry.ProcessId}),
                               LEVEL_INFO);
        return;
    }
    const std::uint64_t sequence = entry.sequence;
    const std::uint32_t thread_id = entry.TThreadId;
    ThreadEntry& stored = process->second->threads.try_emplace(sequence, std::move(entry)).first->second;
    ThreadIndex.Set(thread_id, &stored);
    ThreadList[sequence] = &stored;
    ++next_sequence;
}

void TraceModel::CSwitchEvent(const CSwitchEventData& record, std::uint64_t start) {
    const std::uint32_t new_thread_id = ReadField(record.payload, cswitch_field::kNewThreadId);
    const std::uint32_t old_thread_id = ReadField(record.payload, cswitch_field::kOldThreadId);
    const auto time_stamp = static_cast<std::uint64_t>(record.TimeStamp);

    if (ThreadEntry* const incoming = ThreadIndex.Find(new_thread_id); incoming == nullptr) {
        LogUnknownThread(new_thread_id);
    } else {
        ThreadEntry& thread = *incoming;
        const std::uint64_t reference = thread.last_switch_out != 0 ? thread.last_switch_out : start;
        // Unsigned on purpose: a stamp before the reference wraps far above the bound.
        const std::uint64_t interval = time_stamp - reference;
        if (interval >= min_period && interval <= max_period) {
            thread.periods.push_back(interval);
        }
    }

    if (ThreadEntry* const outgoing = ThreadIndex.Find(old_thread_id); outgoing == nullptr) {
        LogUnknownThread(old_thread_id);
    } else {
        outgoing->last_switch_out = time_stamp;
    }
}

}  // namespace dormiscope

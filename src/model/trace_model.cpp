#include "model/trace_model.h"

#include <cstring>
#include <type_traits>

#include "log/logger.h"

namespace dormiscope {
namespace {

template <typename Value, std::size_t Size>
Value ReadAt(const std::array<std::uint8_t, Size>& bytes, std::size_t offset) {
    static_assert(std::is_trivially_copyable_v<Value>);
    Value value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

ThreadEntry ThreadFromPayload(const ThreadPayload& payload) {
    ThreadEntry entry;
    entry.ProcessId = ReadAt<std::uint32_t>(payload, 0);
    entry.TThreadId = ReadAt<std::uint32_t>(payload, 4);
    entry.StackBase = ReadAt<std::uint64_t>(payload, 8);
    entry.StackLimit = ReadAt<std::uint64_t>(payload, 16);
    entry.UserStackBase = ReadAt<std::uint64_t>(payload, 24);
    entry.UserStackLimit = ReadAt<std::uint64_t>(payload, 32);
    entry.Affinity = ReadAt<std::uint64_t>(payload, 40);
    entry.Win32StartAddr = ReadAt<std::uint64_t>(payload, 48);
    entry.TebBase = ReadAt<std::uint64_t>(payload, 56);
    entry.SubProcessTag = ReadAt<std::uint32_t>(payload, 64);
    entry.BasePriority = payload[68];
    entry.PagePriority = payload[69];
    entry.IoPriority = payload[70];
    entry.ThreadFlags = payload[71];
    return entry;
}

void LogUnknownThread(std::uint32_t thread_id) {
    Logger::Instance().Log(FormatLogMessage("CSwitchEvent: Unknown Thread. ThreadID: %u\n", std::uint64_t{thread_id}),
                           LEVEL_INFO);
}

}  // namespace

void TraceModel::AddProcess(const ProcessEventData& record) {
    ProcessEntry entry;
    entry.UniqueProcessKey = ReadAt<std::uint64_t>(record.fixedPart, 0);
    entry.ProcessId = ReadAt<std::uint32_t>(record.fixedPart, 8);
    entry.ParentId = ReadAt<std::uint32_t>(record.fixedPart, 12);
    entry.SessionId = ReadAt<std::uint32_t>(record.fixedPart, 16);
    entry.ExitStatus = ReadAt<std::int32_t>(record.fixedPart, 20);
    entry.DirectoryTableBase = ReadAt<std::uint64_t>(record.fixedPart, 24);
    entry.Flags = ReadAt<std::uint32_t>(record.fixedPart, 32);
    entry.ImageFileName = record.text2;

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
    const auto new_thread_id = ReadAt<std::uint32_t>(record.payload, 0);
    const auto old_thread_id = ReadAt<std::uint32_t>(record.payload, 4);
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

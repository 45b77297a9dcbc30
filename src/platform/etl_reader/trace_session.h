// One trace file opened for processing: the file, its logfile header and the
// consumer's callback, and the delivery of its events.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/etl_reader/buffer_walker.h"
#include "platform/etl_reader/loaded_buffer.h"
#include "platform/etl_reader/logfile_header.h"
#include "platform/etl_reader/trace_file.h"
#include "platform/etl_reader/time_conversion.h"
#include "platform/trace_damage.h"

namespace dormiscope {

class TraceSession {
public:
    // The session for the file at `path`, or empty when it cannot be read or
    // does not start like a trace file. `caller` (the consumer's mode,
    // callback and context) must outlive the session: Process() reports the
    // buffers it read in its BuffersRead, as the system's consumer does.
    static std::unique_ptr<TraceSession> Open(const std::filesystem::path& path, EVENT_TRACE_LOGFILEW& caller);

    const LogfileInfo& Logfile() const { return logfile_; }

    // Delivers the logfile-header event, then every other event of the file
    // in time order, to the callback, synchronously on the calling thread,
    // while a second thread reads, decompresses and checks the buffers and
    // puts their events in order ahead of it. Events whose converted
    // time lies outside [start, end] are not delivered when the bound is given.
    // Stops with ERROR_CANCELLED after the current event once RequestClose()
    // was called (from within a callback).
    ULONG Process(const FILETIME* start, const FILETIME* end);

    // Where and why the last Process() found the file damaged, if it did.
    const std::optional<TraceDamage>& Damage() const { return damage_; }

    void RequestClose() { close_requested_.store(true, std::memory_order_relaxed); }

private:
    TraceSession(TraceFile file, ByteBlock first_buffer, LogfileInfo logfile, EVENT_TRACE_LOGFILEW& caller);

    // Which events are delivered, and whether their stamps are converted.
    struct Window {
        bool convert;
        bool filtered;
        std::int64_t first;
        std::int64_t last;
    };
    // Converts a raw stamp as the window asks; false when it falls outside.
    bool Admit(std::int64_t& stamp, const Window& window) const;
    ULONG Deliver(EVENT_RECORD& record);
    // Decodes the event at `offset` of `buffer`, stamped `raw_time`, into
    // `record` and delivers it, when `window` admits it.
    ULONG DecodeAndDeliver(const LoadedBuffer& buffer, std::uint32_t offset, std::int64_t raw_time,
                           const Window& window, EVENT_RECORD& record,
                           std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended);
    // Reads the buffers after the header event and delivers their events in
    // time order, on the calling thread alone. Buffer memory grows to
    // `usual_buffer_size` at once when that holds the buffer. `damage` tells
    // where a buffer could not be loaded.
    ULONG OrderAndDeliver(std::span<BufferInfo> buffers, std::size_t usual_buffer_size, const Window& window,
                          std::optional<TraceDamage>& damage);
    // Reads the buffers after the header event and puts their events in time
    // order into `queue`, on the reading thread; otherwise as OrderAndDeliver.
    ULONG OrderEvents(std::span<BufferInfo> buffers, std::size_t usual_buffer_size, class ReadAheadQueue& queue,
                      std::optional<TraceDamage>& damage) const;
    // The same, with what it throws turned into ERROR_NOT_ENOUGH_MEMORY.
    ULONG OrderEventsOrFail(std::span<BufferInfo> buffers, std::size_t usual_buffer_size, class ReadAheadQueue& queue,
                            std::optional<TraceDamage>& damage) const noexcept;

    TraceFile file_;
    // Read once when the trace is opened: the header event is delivered from it.
    ByteBlock first_buffer_;
    LogfileInfo logfile_;
    std::optional<TimeConverter> converter_;
    ULONG process_trace_mode_;
    PEVENT_RECORD_CALLBACK callback_;
    PVOID context_;
    EVENT_TRACE_LOGFILEW& caller_;
    std::optional<TraceDamage> damage_;
    std::atomic<bool> close_requested_{false};
};

}  // namespace dormiscope

#include "platform/etl_reader/trace_session.h"

#include <algorithm>
#include <array>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/etl_reader/buffer_walker.h"
#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/event_header_decoder.h"
#include "platform/etl_reader/event_merge.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/etl_reader/loaded_buffer.h"
#include "platform/etl_reader/processor_stream.h"
#include "platform/etl_reader/read_ahead_queue.h"
#include "platform/system/processors.h"

namespace dormiscope {
namespace {

std::int64_t FileTimeValue(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// One stream per processor over `buffers`, each in sequence order (file order on ties).
std::vector<ProcessorStream> StreamsByProcessor(StreamShared& shared, std::span<BufferInfo> buffers) {
    std::sort(buffers.begin(), buffers.end(), [](const BufferInfo& a, const BufferInfo& b) {
        return std::tie(a.processor, a.sequence_number, a.file_offset) <
               std::tie(b.processor, b.sequence_number, b.file_offset);
    });
    std::vector<ProcessorStream> streams;
    std::size_t begin = 0;
    for (std::size_t index = 1; index <= buffers.size(); ++index) {
        if (index == buffers.size() || buffers[index].processor != buffers[begin].processor) {
            streams.emplace_back(shared, std::span<const BufferInfo>(buffers.data() + begin, index - begin));
            begin = index;
        }
    }
    return streams;
}

// The file's first buffer, as far as the file holds it; empty when unreadable.
ByteBlock ReadFirstBuffer(const TraceFile& file) {
    std::array<std::uint8_t, etl::kBufferHeaderSize> header;
    if (!file.ReadAt(0, header)) {
        return {};
    }
    // A size no buffer has is not read whole: what is read then fails the header's checks.
    const std::uint64_t stored = LoadLittleEndian<std::uint32_t>(header.data() + etl::kBufferSizeOffset);
    const std::uint64_t wanted = std::clamp<std::uint64_t>(stored, 1, kMaxDecompressedBufferSize);
    ByteBlock buffer;
    buffer.size = std::min<std::uint64_t>(file.Size(), wanted);
    buffer.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(buffer.size);
    if (!file.ReadAt(0, buffer.Span())) {
        return {};
    }
    return buffer;
}

// Memory the buffers of one pass may take together.
constexpr std::size_t kMemoryBudget = std::size_t{1} << 30;

// Every deliverable event takes at least this many bytes of its buffer.
constexpr std::size_t kSmallestEvent = etl::kPerfInfoHeaderSize;

// Whether every event of `buffers` fits in the queue's batches at once, so
// that ordering them never waits for delivery: then a second thread costs
// more than it saves, and they are ordered on the calling thread.
bool FitsInTheQueue(std::span<const BufferInfo> buffers) {
    constexpr std::size_t kHeldEvents = ReadAheadQueue::kBatches * EventBatch::kEvents;
    std::size_t bytes = 0;
    for (const BufferInfo& buffer : buffers) {
        bytes += buffer.used;
        if (bytes / kSmallestEvent >= kHeldEvents) {
            return false;
        }
    }
    return true;
}

// How many events ahead of delivery their bytes are fetched: enough to cover
// a fetch from another core's cache while the events before are delivered.
constexpr std::size_t kPrefetchDistance = 4;

// An event's header and the start of its payload, which usually spill into a
// second cache line.
void PrefetchEvent(const OrderedEvent& event) {
    const std::uint8_t* const bytes = event.buffer->bytes.data() + event.offset;
    __builtin_prefetch(bytes);
    __builtin_prefetch(bytes + 63);
}

// The reading thread of one Process() call. However delivery ends (the last
// event, a close from a callback, an exception), the reader is released and
// joined before the queue it fills goes away.
class ReaderThread {
public:
    template <typename Body>
    ReaderThread(ReadAheadQueue& queue, Body body) : queue_(queue), thread_(std::move(body)) {}
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;
    ~ReaderThread() {
        queue_.Stop();
        thread_.join();
    }

private:
    ReadAheadQueue& queue_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<TraceSession> TraceSession::Open(const std::filesystem::path& path, EVENT_TRACE_LOGFILEW& caller) {
    std::optional<TraceFile> file = TraceFile::Open(path);
    if (!file) {
        return nullptr;
    }
    ByteBlock first_buffer = ReadFirstBuffer(*file);
    std::optional<LogfileInfo> logfile = ReadLogfileHeader(first_buffer.Span());
    if (!logfile) {
        return nullptr;
    }
    return std::unique_ptr<TraceSession>(
        new TraceSession(std::move(*file), std::move(first_buffer), std::move(*logfile), caller));
}

TraceSession::TraceSession(TraceFile file, ByteBlock first_buffer, LogfileInfo logfile, EVENT_TRACE_LOGFILEW& caller)
    : file_(std::move(file)),
      first_buffer_(std::move(first_buffer)),
      logfile_(std::move(logfile)),
      converter_(TimeConverter::Create(logfile_.clock)),
      process_trace_mode_(caller.ProcessTraceMode),
      callback_(caller.EventRecordCallback),
      context_(caller.Context),
      caller_(caller) {}

ULONG TraceSession::Process(const FILETIME* start, const FILETIME* end) {
    if ((process_trace_mode_ & PROCESS_TRACE_MODE_EVENT_RECORD) == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const bool raw = (process_trace_mode_ & PROCESS_TRACE_MODE_RAW_TIMESTAMP) != 0;
    const bool filtered = start != nullptr || end != nullptr;
    // Converted times are needed for delivery, or for the time filter.
    if (!converter_ && (!raw || filtered)) {
        return ERROR_BAD_FORMAT;
    }
    const std::int64_t first = start != nullptr ? FileTimeValue(*start) : std::numeric_limits<std::int64_t>::min();
    const std::int64_t last = end != nullptr ? FileTimeValue(*end) : std::numeric_limits<std::int64_t>::max();
    if (last < first) {
        return ERROR_INVALID_TIME;
    }

    const std::size_t max_decompressed =
        std::min<std::size_t>(logfile_.header.BufferSize, kMaxDecompressedBufferSize);
    damage_.reset();
    BufferScan scan = ScanBuffers(file_, logfile_.compression_format, max_decompressed);
    // A file cut at a buffer boundary is whole as far as it goes: the caller
    // compares this count with the header's BuffersWritten.
    caller_.BuffersRead = static_cast<ULONG>(scan.buffers.size());
    damage_ = scan.damage;
    if (scan.buffers.empty() || scan.buffers.front().file_offset != 0) {
        return ERROR_FILE_CORRUPT;
    }

    // The logfile-header event comes first: it is the time reference.
    BufferInfo& header_buffer = scan.buffers.front();
    if (first_buffer_.size < header_buffer.used) {
        damage_ = TraceDamage{0, "the file ends inside its first buffer"};
        return ERROR_FILE_CORRUPT;
    }
    EVENT_RECORD header_record{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> header_items;
    const DecodedEvent header_event = DecodeEvent(first_buffer_.Span().first(header_buffer.used),
                                                  etl::kBufferHeaderSize, header_record, header_items);
    if (header_event.outcome != EventOutcome::kEvent) {
        damage_ = TraceDamage{etl::kBufferHeaderSize, "logfile header event"};
        return ERROR_FILE_CORRUPT;
    }
    header_record.BufferContext = header_buffer.client_context;
    header_record.UserContext = context_;
    if (header_buffer.has_processor_index) {
        header_record.EventHeader.Flags |= EVENT_HEADER_FLAG_PROCESSOR_INDEX;
    }
    header_buffer.first_event = logfile_.header_event_end;
    const Window window{!raw, filtered, first, last};
    if (Admit(header_record.EventHeader.TimeStamp.QuadPart, window)) {
        if (const ULONG status = Deliver(header_record); status != ERROR_SUCCESS) {
            return status;
        }
    }

    // Buffers take the header's size, so that a buffer given back holds any
    // other, unless the file is smaller than that (a damaged header, or a
    // trace cut short): then what it can hold. In a small trace (its events
    // would fill the queue's batches at once) each takes only what it holds.
    const bool small = FitsInTheQueue(scan.buffers);
    const std::size_t usual_buffer_size = small ? 0 : std::min<std::uint64_t>(max_decompressed, file_.Size());
    std::optional<TraceDamage> read_damage;
    // Reading ahead pays only while delivery runs on another processor; a
    // small trace is ordered before a second thread would have started.
    if (small || ProcessorsToRunOn() == 1) {
        const ULONG status = OrderAndDeliver(scan.buffers, usual_buffer_size, window, read_damage);
        if (status != ERROR_SUCCESS) {
            damage_ = read_damage;
            return status;
        }
        return scan.status;
    }
    ReadAheadQueue queue;
    const ReaderThread reader(queue, [&] {
        queue.Finish(OrderEventsOrFail(scan.buffers, usual_buffer_size, queue, read_damage));
    });
    EVENT_RECORD record{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended;
    while (EventBatch* const batch = queue.TakeFull()) {
        const std::span<const OrderedEvent> events = batch->events;
        for (std::size_t index = 0; index < events.size(); ++index) {
            // The reading thread, on another core, was the last to touch the
            // bytes of the events ahead: have them on their way meanwhile.
            if (index + kPrefetchDistance < events.size()) {
                PrefetchEvent(events[index + kPrefetchDistance]);
            }
            const OrderedEvent& ordered = events[index];
            if (const ULONG status =
                    DecodeAndDeliver(*ordered.buffer, ordered.offset, ordered.raw_time, window, record, extended);
                status != ERROR_SUCCESS) {
                return status;
            }
        }
        queue.GiveBack(batch);
    }
    // Ordering is finished with `read_damage` once it has set the final status.
    const ULONG status = queue.FinalStatus();
    if (status != ERROR_SUCCESS) {
        damage_ = read_damage;
        return status;
    }
    return scan.status;
}

bool TraceSession::Admit(std::int64_t& stamp, const Window& window) const {
    if (!window.convert && !window.filtered) {
        return true;
    }
    const std::int64_t time = converter_->ToSystemTime(stamp);
    if (time < window.first || time > window.last) {
        return false;
    }
    if (window.convert) {
        stamp = time;
    }
    return true;
}

ULONG TraceSession::DecodeAndDeliver(const LoadedBuffer& buffer, std::uint32_t offset, std::int64_t raw_time,
                                    const Window& window, EVENT_RECORD& record,
                                    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended) {
    if (!Admit(raw_time, window)) {
        return ERROR_SUCCESS;
    }
    // The buffer's load measured this event: it decodes.
    DecodeEvent(buffer.bytes, offset, record, extended);
    record.EventHeader.TimeStamp.QuadPart = raw_time;
    record.EventHeader.Flags |= buffer.info->has_processor_index ? EVENT_HEADER_FLAG_PROCESSOR_INDEX : 0;
    record.BufferContext = buffer.info->client_context;
    record.UserContext = context_;
    return Deliver(record);
}

ULONG TraceSession::Deliver(EVENT_RECORD& record) {
    if (callback_ != nullptr) {
        callback_(&record);
    }
    return close_requested_.load(std::memory_order_relaxed) ? ERROR_CANCELLED : ERROR_SUCCESS;
}

ULONG TraceSession::OrderEventsOrFail(std::span<BufferInfo> buffers, std::size_t usual_buffer_size,
                                     ReadAheadQueue& queue, std::optional<TraceDamage>& damage) const noexcept {
    // What ordering can throw is a list or a buffer that cannot grow; on the
    // reading thread it would end the program, so it ends the pass instead.
    try {
        return OrderEvents(buffers, usual_buffer_size, queue, damage);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

ULONG TraceSession::OrderAndDeliver(std::span<BufferInfo> buffers, std::size_t usual_buffer_size,
                                   const Window& window, std::optional<TraceDamage>& damage) {
    // The queue only lends buffers here: each goes back once the streams
    // moved past it, its events delivered.
    ReadAheadQueue queue;
    std::vector<LoadedBuffer*> finished;
    StreamShared shared{file_, queue, kMemoryBudget, usual_buffer_size, {}, &finished, {}};
    EVENT_RECORD record{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended;
    // What a callback throws passes through untouched; what reading throws
    // (a list or a buffer that cannot grow) ends the pass.
    std::exception_ptr thrown_by_callback;
    ULONG stopped_by_delivery = ERROR_SUCCESS;
    ULONG status = ERROR_SUCCESS;
    try {
        std::vector<ProcessorStream> streams = StreamsByProcessor(shared, buffers);
        status = MergeStreams(std::span<ProcessorStream>(streams), [&](const ProcessorStream& stream) -> ULONG {
            if (!finished.empty()) {
                queue.GiveBackBuffers(finished);
            }
            try {
                stopped_by_delivery =
                    DecodeAndDeliver(stream.Buffer(), stream.Offset(), stream.RawTime(), window, record, extended);
            } catch (...) {
                thrown_by_callback = std::current_exception();
                stopped_by_delivery = ERROR_CANCELLED;
            }
            return stopped_by_delivery;
        });
    } catch (...) {
        status = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (thrown_by_callback) {
        std::rethrow_exception(thrown_by_callback);
    }
    if (stopped_by_delivery != ERROR_SUCCESS) {
        return stopped_by_delivery;
    }
    damage = shared.damage;
    return status;
}

ULONG TraceSession::OrderEvents(std::span<BufferInfo> buffers, std::size_t usual_buffer_size,
                                ReadAheadQueue& queue, std::optional<TraceDamage>& damage) const {
    EventBatch* batch = queue.TakeEmpty();
    if (batch == nullptr) {
        return ERROR_CANCELLED;
    }
    StreamShared shared{file_, queue, kMemoryBudget, usual_buffer_size, {}, &batch->finished, {}};
    std::vector<ProcessorStream> streams = StreamsByProcessor(shared, buffers);
    const ULONG status = MergeStreams(std::span<ProcessorStream>(streams), [&](const ProcessorStream& stream) -> ULONG {
        batch->events.push_back({&stream.Buffer(), stream.Offset(), stream.RawTime()});
        if (batch->events.size() == EventBatch::kEvents) {
            queue.Publish(batch);
            batch = queue.TakeEmpty();
            if (batch == nullptr) {
                return ERROR_CANCELLED;
            }
            shared.finished = &batch->finished;
        }
        return ERROR_SUCCESS;
    });
    if (batch != nullptr) {
        queue.Publish(batch);
    }
    damage = shared.damage;
    return status;
}

}  // namespace dormiscope

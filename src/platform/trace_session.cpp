#include "platform/trace_session.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <vector>

#include "platform/buffer_walker.h"
#include "platform/etl_layout.h"
#include "platform/event_header_decoder.h"
#include "platform/event_merge.h"
#include "platform/processor_stream.h"

namespace dormiscope {
namespace {

// Memory all decompressed buffers of one pass may take together.
constexpr std::size_t kScratchBudget = 1u << 30;

std::int64_t FileTimeValue(const FILETIME& time) {
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

// Buffers grouped by processor, each group in sequence order (file order on ties).
std::vector<std::span<const BufferInfo>> GroupByProcessor(std::vector<BufferInfo>& buffers) {
    std::sort(buffers.begin(), buffers.end(), [](const BufferInfo& a, const BufferInfo& b) {
        return std::tie(a.processor, a.sequence_number, a.file_offset) <
               std::tie(b.processor, b.sequence_number, b.file_offset);
    });
    std::vector<std::span<const BufferInfo>> groups;
    std::size_t begin = 0;
    for (std::size_t index = 1; index <= buffers.size(); ++index) {
        if (index == buffers.size() || buffers[index].processor != buffers[begin].processor) {
            groups.emplace_back(buffers.data() + begin, index - begin);
            begin = index;
        }
    }
    return groups;
}

}  // namespace

std::unique_ptr<TraceSession> TraceSession::Open(const std::filesystem::path& path, ULONG process_trace_mode,
                                                 PEVENT_RECORD_CALLBACK callback, PVOID context) {
    std::optional<MappedFile> mapping = MappedFile::Open(path);
    if (!mapping) {
        return nullptr;
    }
    std::optional<LogfileInfo> logfile = ReadLogfileHeader(mapping->Bytes());
    if (!logfile) {
        return nullptr;
    }
    return std::unique_ptr<TraceSession>(
        new TraceSession(std::move(*mapping), std::move(*logfile), process_trace_mode, callback, context));
}

TraceSession::TraceSession(MappedFile mapping, LogfileInfo logfile, ULONG process_trace_mode,
                           PEVENT_RECORD_CALLBACK callback, PVOID context)
    : mapping_(std::move(mapping)),
      logfile_(std::move(logfile)),
      converter_(TimeConverter::Create(logfile_.clock)),
      process_trace_mode_(process_trace_mode),
      callback_(callback),
      context_(context) {}

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

    const auto deliver = [&](EVENT_RECORD& record) -> ULONG {
        if (!raw || filtered) {
            LONGLONG& stamp = record.EventHeader.TimeStamp.QuadPart;
            const std::int64_t time = converter_->ToSystemTime(stamp);
            if (time < first || time > last) {
                return ERROR_SUCCESS;
            }
            if (!raw) {
                stamp = time;
            }
        }
        if (callback_ != nullptr) {
            callback_(&record);
        }
        return close_requested_.load(std::memory_order_relaxed) ? ERROR_CANCELLED : ERROR_SUCCESS;
    };

    const std::span<const std::uint8_t> file = mapping_.Bytes();
    const std::size_t max_decompressed =
        std::min<std::size_t>(logfile_.header.BufferSize, kMaxDecompressedBufferSize);
    BufferScan scan = ScanBuffers(file, logfile_.compression_format, max_decompressed);
    if (scan.buffers.empty() || scan.buffers.front().file_offset != 0) {
        return ERROR_FILE_CORRUPT;
    }

    // The logfile-header event comes first: it is the time reference.
    BufferInfo& header_buffer = scan.buffers.front();
    EVENT_RECORD header_record{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> header_items;
    const DecodedEvent header_event =
        DecodeEvent(file.first(header_buffer.used), etl::kBufferHeaderSize, header_record, header_items);
    if (header_event.outcome != EventOutcome::kEvent) {
        return ERROR_FILE_CORRUPT;
    }
    header_record.BufferContext = header_buffer.client_context;
    header_record.UserContext = context_;
    if (header_buffer.has_processor_index) {
        header_record.EventHeader.Flags |= EVENT_HEADER_FLAG_PROCESSOR_INDEX;
    }
    header_buffer.first_event = logfile_.header_event_end;
    ULONG status = deliver(header_record);
    if (status != ERROR_SUCCESS) {
        return status;
    }

    std::size_t scratch_budget = kScratchBudget;
    const std::vector<std::span<const BufferInfo>> groups = GroupByProcessor(scan.buffers);
    std::vector<ProcessorStream> streams;
    streams.reserve(groups.size());
    for (const std::span<const BufferInfo> group : groups) {
        streams.emplace_back(file, group, context_, scratch_budget);
    }
    status = MergeStreams(std::span<ProcessorStream>(streams), deliver);
    return status != ERROR_SUCCESS ? status : scan.status;
}

}  // namespace dormiscope

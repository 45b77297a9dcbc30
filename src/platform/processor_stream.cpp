#include "platform/processor_stream.h"

#include <cstring>

#include "platform/etl_layout.h"
#include "platform/event_header_decoder.h"
#include "platform/lz77_plain.h"

namespace dormiscope {

ProcessorStream::ProcessorStream(const TraceFile& file, std::span<const BufferInfo> buffers, PVOID user_context,
                                 std::size_t& memory_budget)
    : file_(file),
      buffers_(buffers),
      memory_budget_(memory_budget),
      user_context_(user_context),
      processor_(buffers.empty() ? 0 : buffers.front().processor) {}

ULONG ProcessorStream::Advance() {
    while (next_ == events_.size()) {
        if (next_buffer_ == buffers_.size()) {
            events_.clear();
            next_ = 0;
            return ERROR_SUCCESS;
        }
        const ULONG status = LoadBuffer(buffers_[next_buffer_++]);
        if (status != ERROR_SUCCESS) {
            events_.clear();
            next_ = 0;
            next_buffer_ = buffers_.size();
            return status;
        }
    }
    ++next_;
    return ERROR_SUCCESS;
}

bool ProcessorStream::Reserve(std::vector<std::uint8_t>& bytes, std::size_t size) {
    if (size > bytes.size()) {
        const std::size_t growth = size - bytes.size();
        if (growth > memory_budget_) {
            return false;
        }
        memory_budget_ -= growth;
        bytes.resize(size);
    }
    return true;
}

ULONG ProcessorStream::LoadBuffer(const BufferInfo& buffer) {
    if (!Reserve(bytes_, buffer.used)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const std::span<std::uint8_t> bytes(bytes_.data(), buffer.used);
    if (buffer.compressed) {
        if (!Reserve(stored_, buffer.stored_size)) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        const std::span<std::uint8_t> stored(stored_.data(), buffer.stored_size);
        if (!file_.ReadAt(buffer.file_offset, stored)) {
            return ERROR_FILE_CORRUPT;
        }
        // The decompressed copy keeps the buffer's layout: header, then events.
        std::memcpy(bytes.data(), stored.data(), etl::kBufferHeaderSize);
        if (DecompressPlainLz77(stored.subspan(etl::kBufferHeaderSize), bytes.subspan(etl::kBufferHeaderSize)) !=
            Lz77Status::kOk) {
            return ERROR_FILE_CORRUPT;
        }
    } else if (!file_.ReadAt(buffer.file_offset, bytes)) {
        return ERROR_FILE_CORRUPT;
    }

    events_.clear();
    raw_times_.clear();
    extended_.clear();
    next_ = 0;
    const USHORT buffer_flags = buffer.has_processor_index ? EVENT_HEADER_FLAG_PROCESSOR_INDEX : 0;
    // Where each event's extended items begin; the items vector may move while it fills.
    std::vector<std::size_t> item_starts;
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> items;
    for (std::size_t position = buffer.first_event; position < bytes.size();) {
        EVENT_RECORD record{};
        const DecodedEvent decoded = DecodeEvent(bytes, position, record, items);
        if (decoded.outcome == EventOutcome::kCorrupt) {
            events_.clear();
            return ERROR_FILE_CORRUPT;
        }
        if (decoded.outcome == EventOutcome::kEndOfBuffer) {
            break;
        }
        position += etl::AlignEvent(decoded.size);
        if (decoded.outcome == EventOutcome::kSkipped) {
            continue;
        }
        record.EventHeader.Flags |= buffer_flags;
        record.BufferContext = buffer.client_context;
        record.UserContext = user_context_;
        item_starts.push_back(extended_.size());
        extended_.insert(extended_.end(), items.begin(), items.begin() + record.ExtendedDataCount);
        raw_times_.push_back(record.EventHeader.TimeStamp.QuadPart);
        events_.push_back(record);
    }
    for (std::size_t index = 0; index < events_.size(); ++index) {
        EVENT_RECORD& record = events_[index];
        record.ExtendedData = record.ExtendedDataCount == 0 ? nullptr : extended_.data() + item_starts[index];
    }
    return ERROR_SUCCESS;
}

}  // namespace dormiscope

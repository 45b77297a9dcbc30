#include "platform/processor_stream.h"

#include <cstring>

#include "platform/etl_layout.h"
#include "platform/event_header_decoder.h"
#include "platform/lz77_plain.h"

namespace dormiscope {

ProcessorStream::ProcessorStream(std::span<const std::uint8_t> file, std::span<const BufferInfo> buffers,
                                 PVOID user_context, std::size_t& scratch_budget)
    : file_(file),
      buffers_(buffers),
      scratch_budget_(scratch_budget),
      user_context_(user_context),
      processor_(buffers.empty() ? 0 : buffers.front().processor) {}

ULONG ProcessorStream::Advance() {
    for (;;) {
        while (position_ < events_.size()) {
            const DecodedEvent decoded = DecodeEvent(events_, position_, record_, extended_);
            switch (decoded.outcome) {
                case EventOutcome::kEvent:
                    position_ += etl::AlignEvent(decoded.size);
                    record_.EventHeader.Flags |= buffer_flags_;
                    record_.BufferContext = buffer_context_;
                    record_.UserContext = user_context_;
                    raw_time_ = record_.EventHeader.TimeStamp.QuadPart;
                    has_event_ = true;
                    return ERROR_SUCCESS;
                case EventOutcome::kSkipped:
                    position_ += etl::AlignEvent(decoded.size);
                    break;
                case EventOutcome::kEndOfBuffer:
                    position_ = events_.size();
                    break;
                case EventOutcome::kCorrupt:
                    has_event_ = false;
                    return ERROR_FILE_CORRUPT;
            }
        }
        if (next_buffer_ == buffers_.size()) {
            has_event_ = false;
            return ERROR_SUCCESS;
        }
        const ULONG status = LoadBuffer(buffers_[next_buffer_++]);
        if (status != ERROR_SUCCESS) {
            has_event_ = false;
            return status;
        }
    }
}

ULONG ProcessorStream::LoadBuffer(const BufferInfo& buffer) {
    const std::span<const std::uint8_t> stored = file_.subspan(buffer.file_offset, buffer.stored_size);
    if (buffer.compressed) {
        if (buffer.used > scratch_.size()) {
            const std::size_t growth = buffer.used - scratch_.size();
            if (growth > scratch_budget_) {
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            scratch_budget_ -= growth;
            scratch_.resize(buffer.used);
        }
        // The scratch copy keeps the buffer's layout: header, then events.
        std::memcpy(scratch_.data(), stored.data(), etl::kBufferHeaderSize);
        const std::span<std::uint8_t> output(scratch_.data() + etl::kBufferHeaderSize,
                                             buffer.used - etl::kBufferHeaderSize);
        if (DecompressPlainLz77(stored.subspan(etl::kBufferHeaderSize), output) != Lz77Status::kOk) {
            return ERROR_FILE_CORRUPT;
        }
        events_ = std::span<const std::uint8_t>(scratch_.data(), buffer.used);
    } else {
        events_ = stored.first(buffer.used);
    }
    position_ = buffer.first_event;
    buffer_context_ = buffer.client_context;
    buffer_flags_ = buffer.has_processor_index ? EVENT_HEADER_FLAG_PROCESSOR_INDEX : 0;
    return ERROR_SUCCESS;
}

}  // namespace dormiscope

#include "platform/processor_stream.h"

#include "platform/etl_layout.h"
#include "platform/event_header_decoder.h"

namespace dormiscope {

ProcessorStream::ProcessorStream(BufferLoader& loader, std::size_t index, std::uint16_t processor,
                                 PVOID user_context)
    : loader_(loader), index_(index), user_context_(user_context), processor_(processor) {}

ULONG ProcessorStream::Advance() {
    has_event_ = false;
    while (!ended_) {
        while (position_ < events_.size()) {
            // The loader checked that every event of the buffer decodes.
            const DecodedEvent decoded = DecodeEvent(events_, position_, record_, extended_);
            if (decoded.outcome == EventOutcome::kCorrupt) {
                return End(ERROR_FILE_CORRUPT);
            }
            if (decoded.outcome == EventOutcome::kEndOfBuffer) {
                break;
            }
            position_ += etl::AlignEvent(decoded.size);
            if (decoded.outcome == EventOutcome::kEvent) {
                record_.EventHeader.Flags |= buffer_flags_;
                record_.BufferContext = buffer_context_;
                record_.UserContext = user_context_;
                raw_time_ = record_.EventHeader.TimeStamp.QuadPart;
                has_event_ = true;
                return ERROR_SUCCESS;
            }
        }
        const LoadedBuffer* const buffer = loader_.Next(index_);
        if (buffer == nullptr) {
            return End(ERROR_SUCCESS);
        }
        if (buffer->status != ERROR_SUCCESS) {
            // Nothing after the damage is delivered.
            return End(buffer->status);
        }
        events_ = buffer->bytes;
        position_ = buffer->info->first_event;
        buffer_context_ = buffer->info->client_context;
        buffer_flags_ = buffer->info->has_processor_index ? EVENT_HEADER_FLAG_PROCESSOR_INDEX : 0;
    }
    return ERROR_SUCCESS;
}

ULONG ProcessorStream::End(ULONG status) {
    ended_ = true;
    events_ = {};
    return status;
}

}  // namespace dormiscope

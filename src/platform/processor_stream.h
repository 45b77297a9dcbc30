// The events of one processor: its buffers in sequence order, as the loader
// hands them over, each walked in buffer order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/buffer_loader.h"
#include "platform/etw_api.h"

namespace dormiscope {

class ProcessorStream {
public:
    // Stream `index` of `loader`, whose buffers all belong to `processor`.
    ProcessorStream(BufferLoader& loader, std::size_t index, std::uint16_t processor, PVOID user_context);

    // Decodes the next deliverable event into Record(). ERROR_SUCCESS with
    // HasEvent() false at the end; the status of a buffer the loader could
    // not use (damaged, out of memory), and the stream ends there.
    ULONG Advance();

    bool HasEvent() const { return has_event_; }
    // The raw time stamp of the event in Record(), kept apart from the record
    // so that converting or altering it there does not change the order.
    std::int64_t RawTime() const { return raw_time_; }
    std::uint16_t Processor() const { return processor_; }
    EVENT_RECORD& Record() { return record_; }

private:
    ULONG End(ULONG status);

    BufferLoader& loader_;
    std::size_t index_;

    // The current buffer's bytes up to its used size, and the walk position.
    std::span<const std::uint8_t> events_;
    std::size_t position_ = 0;
    ETW_BUFFER_CONTEXT buffer_context_{};
    USHORT buffer_flags_ = 0;

    PVOID user_context_;
    std::uint16_t processor_;
    bool has_event_ = false;
    bool ended_ = false;
    std::int64_t raw_time_ = 0;
    EVENT_RECORD record_{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended_;
};

}  // namespace dormiscope

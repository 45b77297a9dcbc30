// The events of one processor: its buffers in sequence order, each walked in
// buffer order, compressed ones decoded into a scratch buffer of the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/buffer_walker.h"
#include "platform/etw_api.h"

namespace dormiscope {

class ProcessorStream {
public:
    // `buffers` all belong to one processor, in delivery order, and stay alive
    // as long as the stream. `scratch_budget` is shared by all streams of a
    // pass and bounds the memory their decompressed buffers may take.
    ProcessorStream(std::span<const std::uint8_t> file, std::span<const BufferInfo> buffers, PVOID user_context,
                    std::size_t& scratch_budget);

    // Decodes the next deliverable event into Record(). ERROR_SUCCESS with
    // HasEvent() false at the end; ERROR_FILE_CORRUPT for a damaged event or
    // compressed stream; ERROR_NOT_ENOUGH_MEMORY when the scratch budget is spent.
    ULONG Advance();

    bool HasEvent() const { return has_event_; }
    // The raw time stamp of the event in Record(), kept apart from the record
    // so that converting or altering it there does not change the order.
    std::int64_t RawTime() const { return raw_time_; }
    std::uint16_t Processor() const { return processor_; }
    EVENT_RECORD& Record() { return record_; }

private:
    ULONG LoadBuffer(const BufferInfo& buffer);

    std::span<const std::uint8_t> file_;
    std::span<const BufferInfo> buffers_;
    std::size_t next_buffer_ = 0;
    std::size_t& scratch_budget_;
    std::vector<std::uint8_t> scratch_;

    // The current buffer's bytes up to its used size, and the walk position.
    std::span<const std::uint8_t> events_;
    std::size_t position_ = 0;
    ETW_BUFFER_CONTEXT buffer_context_{};
    USHORT buffer_flags_ = 0;

    PVOID user_context_;
    std::uint16_t processor_;
    bool has_event_ = false;
    std::int64_t raw_time_ = 0;
    EVENT_RECORD record_{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended_;
};

}  // namespace dormiscope

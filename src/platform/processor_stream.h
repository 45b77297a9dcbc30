// The events of one processor: its buffers in sequence order, each read from
// the file (and decompressed) into the stream's own memory and decoded whole
// before any of its events is handed out, so a damaged buffer gives none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/buffer_walker.h"
#include "platform/etw_api.h"
#include "platform/trace_file.h"

namespace dormiscope {

class ProcessorStream {
public:
    // `buffers` all belong to one processor, in delivery order, and stay alive
    // as long as the stream. `memory_budget` is shared by all streams of a
    // pass and bounds the memory their buffers may take.
    ProcessorStream(const TraceFile& file, std::span<const BufferInfo> buffers, PVOID user_context,
                    std::size_t& memory_budget);

    // Moves to the next deliverable event. ERROR_SUCCESS with HasEvent() false
    // at the end; ERROR_FILE_CORRUPT for a buffer that cannot be read or holds
    // a damaged event or compressed stream, ERROR_NOT_ENOUGH_MEMORY when the
    // budget is spent: the stream ends there.
    ULONG Advance();

    bool HasEvent() const { return next_ <= events_.size() && next_ > 0; }
    // The raw time stamp of the event in Record(), kept apart from the record
    // so that converting or altering it there does not change the order.
    std::int64_t RawTime() const { return raw_times_[next_ - 1]; }
    std::uint16_t Processor() const { return processor_; }
    EVENT_RECORD& Record() { return events_[next_ - 1]; }

private:
    ULONG LoadBuffer(const BufferInfo& buffer);
    bool Reserve(std::vector<std::uint8_t>& bytes, std::size_t size);

    const TraceFile& file_;
    std::span<const BufferInfo> buffers_;
    std::size_t next_buffer_ = 0;
    std::size_t& memory_budget_;

    std::vector<std::uint8_t> bytes_;   // the current buffer, header included, up to its used size
    std::vector<std::uint8_t> stored_;  // a compressed buffer as it lies in the file

    // The current buffer's events, decoded; next_ is one past the current one.
    std::vector<EVENT_RECORD> events_;
    std::vector<std::int64_t> raw_times_;
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended_;
    std::size_t next_ = 0;

    PVOID user_context_;
    std::uint16_t processor_;
};

}  // namespace dormiscope

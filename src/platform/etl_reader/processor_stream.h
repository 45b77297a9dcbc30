// The events of one processor, for ordering: its buffers in sequence order,
// each loaded whole (and checked) when its turn comes, walked event by event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/etl_reader/buffer_walker.h"
#include "platform/etw_api.h"
#include "platform/etl_reader/loaded_buffer.h"
#include "platform/etl_reader/read_ahead_queue.h"
#include "platform/etl_reader/trace_file.h"

namespace dormiscope {

// What the streams of one pass share: the file, the queue their buffers come
// from, the memory they may take, and where buffers they are done with go.
struct StreamShared {
    const TraceFile& file;
    ReadAheadQueue& queue;
    std::size_t budget;
    std::size_t usual_buffer_size;  // what most buffers of the trace take
    ByteBlock stored;               // a compressed buffer on its way in
    std::vector<LoadedBuffer*>* finished = nullptr;
    std::optional<TraceDamage> damage;  // the first buffer that could not be loaded
};

class ProcessorStream {
public:
    // `buffers` all belong to one processor, in delivery order, and stay alive
    // as long as the stream.
    ProcessorStream(StreamShared& shared, std::span<const BufferInfo> buffers);

    // Moves to the next deliverable event. ERROR_SUCCESS with HasEvent() false
    // at the end; the status of a buffer that could not be loaded (damaged, out
    // of memory), and the stream ends there, once the events listed before the
    // damage in that buffer are delivered.
    ULONG Advance() {
        // Within a buffer, the next event is already listed.
        if (current_ != nullptr && current_ + 1 != end_) {
            ++current_;
            return ERROR_SUCCESS;
        }
        return NextBuffer();
    }

    bool HasEvent() const { return current_ != nullptr; }
    std::int64_t RawTime() const { return current_->raw_time; }
    std::uint16_t Processor() const { return processor_; }
    const LoadedBuffer& Buffer() const { return *buffer_; }
    std::uint32_t Offset() const { return current_->offset; }

private:
    // Moves to the first event of the next buffer that has one.
    ULONG NextBuffer();
    ULONG End(ULONG status);

    StreamShared& shared_;
    std::span<const BufferInfo> buffers_;
    std::size_t next_buffer_ = 0;
    LoadedBuffer* buffer_ = nullptr;
    // The current event of buffer_ and the end of its list; null at the end.
    const LoadedBuffer::Event* current_ = nullptr;
    const LoadedBuffer::Event* end_ = nullptr;
    std::uint16_t processor_;
    // Why buffer_ stopped early; the stream ends with it after buffer_'s events.
    ULONG failure_ = ERROR_SUCCESS;
    std::optional<TraceDamage> damage_;  // where and why failure_ arose
};

}  // namespace dormiscope

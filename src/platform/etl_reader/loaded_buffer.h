// One buffer of a trace read into memory: decompressed, checked, and with the
// place and raw stamp of each of its deliverable events listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/etl_reader/buffer_walker.h"
#include "platform/etw_api.h"
#include "platform/etl_reader/trace_file.h"
#include "platform/trace_damage.h"

namespace dormiscope {

// Bytes that are read into before they are looked at, so never zeroed.
struct ByteBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;

    std::span<std::uint8_t> Span() const { return {bytes.get(), size}; }
};

struct LoadedBuffer {
    struct Event {
        std::uint32_t offset;
        std::int64_t raw_time;
    };

    const BufferInfo* info = nullptr;
    // The buffer's bytes up to its used size (decompressed), header included.
    std::span<const std::uint8_t> bytes;
    std::vector<Event> events;
    ByteBlock memory;
    std::optional<TraceDamage> damage;  // why the last load failed, if it did
};

// Reads `info`'s buffer into `buffer`, reusing its memory, of which `budget`
// bytes more may be taken (`stored` holds a compressed buffer's bytes on the
// way). Memory grows to `usual_size` at once when that holds the buffer, so
// that the buffers of one trace take one allocation each.
// ERROR_FILE_CORRUPT when one of its events is damaged: the events before it
// stay listed. ERROR_FILE_CORRUPT when the buffer cannot be read or its
// compressed stream is damaged, ERROR_NOT_ENOUGH_MEMORY when the budget is
// spent: the buffer then lists no event.
ULONG LoadBuffer(const TraceFile& file, const BufferInfo& info, LoadedBuffer& buffer, ByteBlock& stored,
                 std::size_t usual_size, std::size_t& budget);

}  // namespace dormiscope

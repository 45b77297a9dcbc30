// One buffer of a trace read into memory: decompressed, checked, and with the
// place and raw stamp of each of its deliverable events listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/etl_reader/buffer_walker.h"
#include "platform/etw_api.h"
#include "platform/etl_reader/trace_file.h"
#include "platform/trace_damage.h"

namespace dormiscope {

struct LoadedBuffer {
    struct Event {
        std::uint32_t offset;
        std::int64_t raw_time;
    };

    const BufferInfo* info = nullptr;
    // The buffer's bytes up to its used size (decompressed), header included.
    std::span<const std::uint8_t> bytes;
    std::vector<Event> events;
    std::vector<std::uint8_t> memory;
    std::optional<TraceDamage> damage;  // why the last load failed, if it did
};

// Reads `info`'s buffer into `buffer`, reusing its memory, of which `budget`
// bytes more may be taken (`stored` holds a compressed buffer's bytes on the
// way). ERROR_FILE_CORRUPT when the buffer cannot be read or one of its
// events or its compressed stream is damaged, ERROR_NOT_ENOUGH_MEMORY when
// the budget is spent: the buffer then lists no event.
ULONG LoadBuffer(const TraceFile& file, const BufferInfo& info, LoadedBuffer& buffer, std::vector<std::uint8_t>& stored,
                 std::size_t& budget);

}  // namespace dormiscope

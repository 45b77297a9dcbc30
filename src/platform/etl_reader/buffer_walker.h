// The buffers of an .etl file: their headers read, checked and listed in file
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/etl_reader/trace_file.h"
#include "platform/trace_damage.h"

namespace dormiscope {

// Largest decompressed buffer accepted, whatever a file claims.
inline constexpr std::size_t kMaxDecompressedBufferSize = 16u << 20;

struct BufferInfo {
    std::size_t file_offset = 0;
    std::size_t stored_size = 0;      // bytes in the file, header included
    std::size_t used = 0;             // end of the last event (uncompressed)
    std::int64_t sequence_number = 0;
    ETW_BUFFER_CONTEXT client_context{};
    std::uint16_t processor = 0;      // 16-bit index with PROC_INDEX, else the number
    bool has_processor_index = false;
    bool compressed = false;
    std::size_t first_event = 0;      // where the walk starts
};

// The header of the buffer at `offset` of a file of `file_size` bytes, read
// from `header` (the buffer's first bytes), or empty when it is damaged: the
// bytes are fewer than a header, its size is smaller than a header or runs
// past the file, or its bytes used lie outside the buffer (outside
// [header, max_decompressed] when compressed).
std::optional<BufferInfo> ReadBufferHeader(std::span<const std::uint8_t> header, std::size_t offset,
                                           std::uint64_t file_size, std::size_t max_decompressed);

struct BufferScan {
    std::vector<BufferInfo> buffers;  // every sound buffer before the first damaged one
    ULONG status = ERROR_SUCCESS;     // why the scan stopped early, if it did
    std::optional<TraceDamage> damage;  // and where
};

// Lists the buffers from the start of the file, stepping by each buffer's own
// size. Stops at the first damaged header (ERROR_FILE_CORRUPT) or at a
// compressed buffer when the file's compression format is not Plain LZ77
// (ERROR_BAD_FORMAT).
BufferScan ScanBuffers(const TraceFile& file, std::uint16_t compression_format, std::size_t max_decompressed);

}  // namespace dormiscope

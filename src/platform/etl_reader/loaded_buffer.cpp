#include "platform/etl_reader/loaded_buffer.h"

#include <cstring>

#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/event_header_decoder.h"
#include "platform/etl_reader/lz77_plain.h"

namespace dormiscope {
namespace {

bool Reserve(std::vector<std::uint8_t>& memory, std::size_t size, std::size_t& budget) {
    if (size > memory.size()) {
        const std::size_t growth = size - memory.size();
        if (growth > budget) {
            return false;
        }
        budget -= growth;
        memory.resize(size);
    }
    return true;
}

bool ReadBytes(const TraceFile& file, const BufferInfo& info, std::span<std::uint8_t> bytes,
               std::vector<std::uint8_t>& stored) {
    if (!info.compressed) {
        return file.ReadAt(info.file_offset, bytes);
    }
    const std::span<std::uint8_t> compressed(stored.data(), info.stored_size);
    if (!file.ReadAt(info.file_offset, compressed)) {
        return false;
    }
    // The decompressed copy keeps the buffer's layout: header, then events.
    std::memcpy(bytes.data(), compressed.data(), etl::kBufferHeaderSize);
    return DecompressPlainLz77(compressed.subspan(etl::kBufferHeaderSize), bytes.subspan(etl::kBufferHeaderSize)) ==
           Lz77Status::kOk;
}

}  // namespace

ULONG LoadBuffer(const TraceFile& file, const BufferInfo& info, LoadedBuffer& buffer, std::vector<std::uint8_t>& stored,
                 std::size_t& budget) {
    buffer.info = &info;
    buffer.bytes = {};
    buffer.events.clear();
    if (!Reserve(buffer.memory, info.used, budget) || (info.compressed && !Reserve(stored, info.stored_size, budget))) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const std::span<std::uint8_t> bytes(buffer.memory.data(), info.used);
    if (!ReadBytes(file, info, bytes, stored)) {
        return ERROR_FILE_CORRUPT;
    }
    buffer.bytes = bytes;
    // The events before a damaged one were measured whole and stay deliverable.
    for (std::size_t position = info.first_event; position < bytes.size();) {
        const DecodedEvent measured = MeasureEvent(bytes, position);
        if (measured.outcome == EventOutcome::kCorrupt) {
            return ERROR_FILE_CORRUPT;
        }
        if (measured.outcome == EventOutcome::kEndOfBuffer) {
            break;
        }
        if (measured.outcome == EventOutcome::kEvent) {
            buffer.events.push_back({static_cast<std::uint32_t>(position), measured.raw_time});
        }
        position += etl::AlignEvent(measured.size);
    }
    return ERROR_SUCCESS;
}

}  // namespace dormiscope

#include "platform/etl_reader/loaded_buffer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/event_header_decoder.h"
#include "platform/etl_reader/lz77_plain.h"

namespace dormiscope {
namespace {

// Charges only growth to the budget: a block reused at its size costs nothing.
bool Reserve(ByteBlock& block, std::size_t size, std::size_t usual_size, std::size_t& budget) {
    if (size <= block.size) {
        return true;
    }
    const std::size_t grown = std::max(size, usual_size);
    const std::size_t growth = grown - block.size;
    if (growth > budget) {
        return false;
    }
    block.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(grown);
    block.size = grown;
    budget -= growth;
    return true;
}

// Nothing when the bytes are in place, else what went wrong.
const char* ReadBytes(const TraceFile& file, const BufferInfo& info, std::span<std::uint8_t> bytes,
                      ByteBlock& stored) {
    constexpr const char* kUnreadable = "the buffer cannot be read";
    if (!info.compressed) {
        return file.ReadAt(info.file_offset, bytes) ? nullptr : kUnreadable;
    }
    const std::span<std::uint8_t> compressed(stored.bytes.get(), info.stored_size);
    if (!file.ReadAt(info.file_offset, compressed)) {
        return kUnreadable;
    }
    // The decompressed copy keeps the buffer's layout: header, then events.
    std::memcpy(bytes.data(), compressed.data(), etl::kBufferHeaderSize);
    const Lz77Status status =
        DecompressPlainLz77(compressed.subspan(etl::kBufferHeaderSize), bytes.subspan(etl::kBufferHeaderSize));
    return status == Lz77Status::kOk ? nullptr : "LZ77 stream";
}

// A compressed buffer's events have no place in the file: name the byte within the buffer.
TraceDamage EventDamage(const BufferInfo& info, std::size_t position) {
    if (info.compressed) {
        return {info.file_offset, "event size (byte " + std::to_string(position) + " of the decompressed buffer)"};
    }
    return {info.file_offset + position, "event size"};
}

}  // namespace

ULONG LoadBuffer(const TraceFile& file, const BufferInfo& info, LoadedBuffer& buffer, ByteBlock& stored,
                 std::size_t usual_size, std::size_t& budget) {
    buffer.info = &info;
    buffer.bytes = {};
    buffer.events.clear();
    buffer.damage.reset();
    if (!Reserve(buffer.memory, info.used, usual_size, budget) ||
        (info.compressed && !Reserve(stored, info.stored_size, usual_size, budget))) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const std::span<std::uint8_t> bytes(buffer.memory.bytes.get(), info.used);
    if (const char* const failure = ReadBytes(file, info, bytes, stored)) {
        buffer.damage = TraceDamage{info.file_offset, failure};
        return ERROR_FILE_CORRUPT;
    }
    buffer.bytes = bytes;
    // The events before a damaged one were measured whole and stay deliverable.
    for (std::size_t position = info.first_event; position < bytes.size();) {
        const DecodedEvent measured = MeasureEvent(bytes, position);
        if (measured.outcome == EventOutcome::kCorrupt) {
            buffer.damage = EventDamage(info, position);
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

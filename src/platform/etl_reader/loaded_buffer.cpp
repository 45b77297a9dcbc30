#include "platform/etl_reader/loaded_buffer.h"

#include <cstring>
#include <string>

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

// Nothing when the bytes are in place, else what went wrong.
const char* ReadBytes(const TraceFile& file, const BufferInfo& info, std::span<std::uint8_t> bytes,
                      std::vector<std::uint8_t>& stored) {
    constexpr const char* kUnreadable = "the buffer cannot be read";
    if (!info.compressed) {
        return file.ReadAt(info.file_offset, bytes) ? nullptr : kUnreadable;
    }
    const std::span<std::uint8_t> compressed(stored.data(), info.stored_size);
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

ULONG LoadBuffer(const TraceFile& file, const BufferInfo& info, LoadedBuffer& buffer, std::vector<std::uint8_t>& stored,
                 std::size_t& budget) {
    buffer.info = &info;
    buffer.bytes = {};
    buffer.events.clear();
    buffer.damage.reset();
    if (!Reserve(buffer.memory, info.used, budget) || (info.compressed && !Reserve(stored, info.stored_size, budget))) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const std::span<std::uint8_t> bytes(buffer.memory.data(), info.used);
    if (const char* const failure = ReadBytes(file, info, bytes, stored)) {
        buffer.damage = TraceDamage{info.file_offset, failure};
        return ERROR_FILE_CORRUPT;
    }
    // Every event is measured before any is listed, so a damaged buffer gives none.
    for (std::size_t position = info.first_event; position < bytes.size();) {
        const DecodedEvent measured = MeasureEvent(bytes, position);
        if (measured.outcome == EventOutcome::kCorrupt) {
            buffer.events.clear();
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
    buffer.bytes = bytes;
    return ERROR_SUCCESS;
}

}  // namespace dormiscope

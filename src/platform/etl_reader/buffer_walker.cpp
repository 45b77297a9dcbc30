#include "platform/etl_reader/buffer_walker.h"

#include <array>
#include <cstring>

#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/little_endian.h"

namespace dormiscope {
namespace {

// A file cut inside a buffer is the common damage: say so rather than blame the header.
const char* DamageOfHeader(std::span<const std::uint8_t> header, bool whole, std::uint64_t offset,
                           std::uint64_t file_size) {
    if (!whole) {
        return "the file ends inside a buffer header";
    }
    const std::uint32_t size = LoadLittleEndian<std::uint32_t>(header.data() + etl::kBufferSizeOffset);
    return size > file_size - offset ? "the file ends inside a buffer" : "buffer header";
}

}  // namespace

std::optional<BufferInfo> ReadBufferHeader(std::span<const std::uint8_t> bytes, std::size_t offset,
                                           std::uint64_t file_size, std::size_t max_decompressed) {
    if (bytes.size() < etl::kBufferHeaderSize || offset > file_size) {
        return std::nullopt;
    }
    const std::uint8_t* const header = bytes.data();
    BufferInfo buffer;
    buffer.file_offset = offset;
    buffer.stored_size = LoadLittleEndian<std::uint32_t>(header + etl::kBufferSizeOffset);
    if (buffer.stored_size < etl::kBufferHeaderSize || buffer.stored_size > file_size - offset) {
        return std::nullopt;
    }
    const auto flags = LoadLittleEndian<std::uint16_t>(header + etl::kBufferFlagOffset);
    buffer.compressed = (flags & etl::kBufferFlagCompressed) != 0;
    buffer.has_processor_index = (flags & etl::kBufferFlagProcessorIndex) != 0;

    // A compressed buffer's used size counts decompressed bytes.
    const std::size_t limit = buffer.compressed ? max_decompressed : buffer.stored_size;
    const auto in_range = [limit](std::size_t used) { return used >= etl::kBufferHeaderSize && used <= limit; };
    buffer.used = LoadLittleEndian<std::uint32_t>(header + etl::kUsedOffset);
    if (!in_range(buffer.used)) {
        buffer.used = LoadLittleEndian<std::uint32_t>(header + etl::kSavedOffsetOffset);
        if (!in_range(buffer.used)) {
            return std::nullopt;
        }
    }

    buffer.sequence_number = LoadLittleEndian<std::int64_t>(header + etl::kSequenceNumberOffset);
    std::memcpy(&buffer.client_context, header + etl::kClientContextOffset, sizeof(buffer.client_context));
    buffer.processor = buffer.has_processor_index ? buffer.client_context.ProcessorIndex
                                                  : buffer.client_context.ProcessorNumber;
    buffer.first_event = etl::kBufferHeaderSize;
    return buffer;
}

BufferScan ScanBuffers(const TraceFile& file, std::uint16_t compression_format, std::size_t max_decompressed) {
    BufferScan scan;
    std::size_t offset = 0;
    std::array<std::uint8_t, etl::kBufferHeaderSize> header{};
    while (offset < file.Size()) {
        // A file that ends inside a header is damaged like a header that does not fit.
        const bool whole = file.ReadAt(offset, header);
        const std::optional<BufferInfo> buffer =
            whole ? ReadBufferHeader(header, offset, file.Size(), max_decompressed) : std::nullopt;
        if (!buffer) {
            scan.status = ERROR_FILE_CORRUPT;
            scan.damage = TraceDamage{offset, DamageOfHeader(header, whole, offset, file.Size())};
            break;
        }
        if (buffer->compressed && compression_format != etl::kCompressionFormatPlainLz77) {
            scan.status = ERROR_BAD_FORMAT;
            scan.damage = TraceDamage{offset, "buffer compressed in an unknown format"};
            break;
        }
        scan.buffers.push_back(*buffer);
        offset += buffer->stored_size;
    }
    return scan;
}

}  // namespace dormiscope

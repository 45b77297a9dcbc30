#include "etl_writer/etl_writer.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "etl_writer/byte_output.h"
#include "etl_writer/logfile_header.h"
#include "etl_writer/lz77_compressor.h"

namespace dormiscope::etl {
namespace {

constexpr std::uint32_t kStateFlush = 3;
constexpr std::uint8_t kEventAlignmentByte = 8;  // ClientContext byte 1 without a processor index
constexpr std::uint32_t kMaximumProcessorIndex = 0xFFFF;
constexpr std::uint32_t kMaximumProcessorNumber = 0xFF;

std::size_t AlignUp8(std::size_t value) { return (value + 7) & ~std::size_t{7}; }

// The fields of WMI_BUFFER_HEADER that differ from buffer to buffer.
struct BufferHeader {
    std::uint32_t size_on_disk;
    std::uint32_t used;
    std::int64_t timestamp;
    std::int64_t sequence_number;
    std::uint32_t processor;
    std::uint32_t state;
    std::uint16_t flags;
    std::uint16_t type;
};

void StoreBufferHeader(Bytes& buffer, const BufferHeader& header, const TraceOptions& options) {
    std::fill(buffer.begin(), buffer.begin() + kBufferHeaderSize, std::uint8_t{0});
    StoreLE(buffer, kBufferSizeOffset, header.size_on_disk);
    StoreLE(buffer, kSavedOffsetOffset, header.used);
    StoreLE(buffer, kCurrentOffsetOffset, header.used);
    StoreLE(buffer, kBufferTimeStampOffset, header.timestamp);
    StoreLE(buffer, kSequenceNumberOffset, header.sequence_number);
    if (options.proc_index_flag) {
        StoreLE(buffer, kClientContextOffset, static_cast<std::uint16_t>(header.processor));
    } else {
        StoreLE(buffer, kClientContextOffset, static_cast<std::uint8_t>(header.processor));
        StoreLE(buffer, kClientContextOffset + 1, kEventAlignmentByte);
    }
    StoreLE(buffer, kLoggerIdOffset, options.logger_id);
    StoreLE(buffer, kStateOffset, header.state);
    StoreLE(buffer, kUsedOffset, header.used);
    StoreLE(buffer, kBufferFlagOffset, header.flags);
    StoreLE(buffer, kBufferTypeOffset, header.type);
}

void CheckOptions(const TraceOptions& options) {
    if (options.pointer_size != 4 && options.pointer_size != 8) {
        throw std::invalid_argument("pointer size must be 4 or 8");
    }
    if (options.processors == 0) {
        throw std::invalid_argument("a trace needs at least one processor");
    }
    const std::uint32_t highest = options.proc_index_flag ? kMaximumProcessorIndex : kMaximumProcessorNumber;
    if (options.processors - 1 > highest) {
        throw std::invalid_argument("processor index does not fit the buffer context");
    }
    if (options.buffer_size % 8 != 0) {
        throw std::invalid_argument("buffer size must be a multiple of 8");
    }
    const std::size_t header_event = EncodeEvent(LogfileHeaderEvent(options, 0, 0)).size();
    if (options.buffer_size < kBufferHeaderSize + header_event) {
        throw std::invalid_argument("buffer size cannot hold the logfile header");
    }
    if (options.end_time == 0) {
        FileTimeFromRaw(options, options.header_raw_timestamp);  // throws for a clock it cannot convert
    }
}

}  // namespace

EtlWriter::EtlWriter(const std::filesystem::path& file, TraceOptions options)
    : options_(std::move(options)), path_(file), latest_raw_(options_.header_raw_timestamp) {
    CheckOptions(options_);
    out_.open(file, std::ios::binary | std::ios::trunc);
    if (!out_) {
        throw std::runtime_error("cannot create " + file.string());
    }
    open_buffers_.resize(options_.processors);
    buffers_written_ = 1;
    Write(HeaderBuffer());
}

EtlWriter::~EtlWriter() {
    try {
        Finish();
    } catch (...) {  // a destructor must not throw; call Finish() to see the error
    }
}

void EtlWriter::Add(const Event& event) {
    if (finished_) {
        throw std::logic_error("event added after the trace was finished");
    }
    if (event.processor >= options_.processors) {
        throw std::invalid_argument("processor " + std::to_string(event.processor) + " out of range");
    }
    const Bytes encoded = EncodeEvent(event);
    if (encoded.size() > options_.buffer_size - kBufferHeaderSize) {
        throw std::invalid_argument("event of " + std::to_string(encoded.size()) + " bytes cannot fit in a buffer");
    }
    OpenBuffer& buffer = open_buffers_[event.processor];
    if (buffer.used != 0 && buffer.used + encoded.size() > options_.buffer_size) {
        Flush(event.processor, false);
    }
    if (buffer.used == 0) {
        buffer.bytes.assign(options_.buffer_size, 0xFF);
        buffer.used = kBufferHeaderSize;
        buffer.latest_raw = event.raw_timestamp;
    }
    std::copy(encoded.begin(), encoded.end(), buffer.bytes.begin() + static_cast<std::ptrdiff_t>(buffer.used));
    const std::size_t end = AlignUp8(buffer.used + encoded.size());
    std::fill(buffer.bytes.begin() + static_cast<std::ptrdiff_t>(buffer.used + encoded.size()),
              buffer.bytes.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0});
    buffer.used = end;
    buffer.latest_raw = std::max(buffer.latest_raw, event.raw_timestamp);
    latest_raw_ = std::max(latest_raw_, event.raw_timestamp);
    ++events_written_;
}

void EtlWriter::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    for (std::uint32_t processor = 0; processor < options_.processors; ++processor) {
        if (open_buffers_[processor].used != 0) {
            Flush(processor, true);
        }
    }
    out_.seekp(0);
    Write(HeaderBuffer());
    out_.close();
    if (!out_) {
        throw std::runtime_error("cannot finish " + path_.string());
    }
}

std::vector<std::uint8_t> EtlWriter::HeaderBuffer() const {
    const std::int64_t end_time =
        options_.end_time != 0 ? options_.end_time : FileTimeFromRaw(options_, latest_raw_);
    const Bytes event = EncodeEvent(LogfileHeaderEvent(options_, buffers_written_, end_time));
    const std::size_t used = kBufferHeaderSize + AlignUp8(event.size());
    // Compressed files keep only the used part of their (never compressed) header buffer.
    const std::size_t size = options_.compress ? used : options_.buffer_size;
    Bytes buffer(size, 0xFF);
    std::copy(event.begin(), event.end(), buffer.begin() + kBufferHeaderSize);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(kBufferHeaderSize + event.size()),
              buffer.begin() + static_cast<std::ptrdiff_t>(used), std::uint8_t{0});
    const auto flags = static_cast<std::uint16_t>(kBufferFlagFlushMarker |
                                                  (options_.proc_index_flag ? kBufferFlagProcessorIndex : 0));
    StoreBufferHeader(buffer,
                      {.size_on_disk = static_cast<std::uint32_t>(size),
                       .used = static_cast<std::uint32_t>(used),
                       .timestamp = 0,
                       .sequence_number = 0,
                       .processor = 0,
                       // Also the compression format of a compressed file: 3 is Plain LZ77.
                       .state = kStateFlush,
                       .flags = flags,
                       .type = kBufferTypeHeader},
                      options_);
    return buffer;
}

void EtlWriter::Flush(std::uint32_t processor, bool final_flush) {
    OpenBuffer& buffer = open_buffers_[processor];
    std::uint16_t flags = options_.proc_index_flag ? kBufferFlagProcessorIndex : 0;
    if (final_flush) {
        flags |= kBufferFlagFlushMarker;
    }
    BufferHeader header{.size_on_disk = options_.buffer_size,
                        .used = static_cast<std::uint32_t>(buffer.used),
                        .timestamp = buffer.latest_raw,
                        .sequence_number = ++sequence_number_,
                        .processor = processor,
                        .state = kStateFlush,
                        .flags = flags,
                        .type = kBufferTypeGeneric};
    if (options_.compress) {
        const Bytes stream = CompressPlainLz77(
            std::span<const std::uint8_t>(buffer.bytes).subspan(kBufferHeaderSize, buffer.used - kBufferHeaderSize));
        Bytes compressed(kBufferHeaderSize);
        compressed.insert(compressed.end(), stream.begin(), stream.end());
        header.size_on_disk = static_cast<std::uint32_t>(compressed.size());
        header.flags |= kBufferFlagCompressed;
        StoreBufferHeader(compressed, header, options_);
        Write(compressed);
    } else {
        StoreBufferHeader(buffer.bytes, header, options_);
        Write(buffer.bytes);
    }
    ++buffers_written_;
    buffer.used = 0;
}

void EtlWriter::Write(const std::vector<std::uint8_t>& bytes) {
    out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out_) {
        throw std::runtime_error("cannot write " + path_.string());
    }
}

}  // namespace dormiscope::etl

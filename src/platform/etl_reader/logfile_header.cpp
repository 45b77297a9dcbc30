#include "platform/etl_reader/logfile_header.h"

#include <algorithm>
#include <cstring>

#include "platform/etl_reader/buffer_walker.h"
#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/little_endian.h"

namespace dormiscope {
namespace {

constexpr std::uint32_t kSystemLoggerMode = 0x02000000;
constexpr std::u16string_view kKernelLoggerName = u"NT Kernel Logger";

// A NUL-terminated UTF-16 string starting at `position` of `text`, which may
// also end at the end of the bytes. Advances `position` past the terminator.
std::u16string ReadString(std::span<const std::uint8_t> text, std::size_t& position) {
    std::u16string value;
    while (text.size() - position >= 2) {
        const auto unit = LoadLittleEndian<char16_t>(text.data() + position);
        position += 2;
        if (unit == u'\0') {
            break;
        }
        value.push_back(unit);
    }
    return value;
}

}  // namespace

std::optional<LogfileInfo> ReadLogfileHeader(std::span<const std::uint8_t> file) {
    const std::optional<BufferInfo> buffer = ReadBufferHeader(file, 0, file.size(), 0);
    if (!buffer || buffer->compressed || buffer->used - etl::kBufferHeaderSize < etl::kSystemHeaderSize) {
        return std::nullopt;
    }
    const std::uint8_t* const event = file.data() + etl::kBufferHeaderSize;
    const std::uint8_t type = event[2];
    if (event[3] != etl::kMarkerTypedHeader || (type != etl::kSystem32 && type != etl::kSystem64) ||
        LoadLittleEndian<std::uint16_t>(event + 6) != 0) {
        return std::nullopt;
    }
    const std::size_t size = LoadLittleEndian<std::uint16_t>(event + 4);
    const bool narrow = type == etl::kSystem32;
    const std::size_t layout_size = narrow ? etl::kLogfileHeaderSize32 : etl::kLogfileHeaderSize64;
    if (size < etl::kSystemHeaderSize + layout_size || size > buffer->used - etl::kBufferHeaderSize) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> payload(event + etl::kSystemHeaderSize, size - etl::kSystemHeaderSize);

    LogfileInfo info;
    std::memcpy(&info.header, payload.data(), std::min(payload.size(), sizeof(info.header)));

    const std::size_t shift = narrow ? etl::kPointerFieldShift32 : 0;
    info.clock.clock_type = LoadLittleEndian<std::uint32_t>(payload.data() + etl::kClockTypeOffset64 - shift);
    info.clock.perf_frequency = LoadLittleEndian<std::int64_t>(payload.data() + etl::kPerfFreqOffset64 - shift);
    info.clock.start_time = LoadLittleEndian<std::int64_t>(payload.data() + etl::kStartTimeOffset64 - shift);
    info.clock.cpu_speed_mhz = LoadLittleEndian<std::uint32_t>(payload.data() + etl::kCpuSpeedOffset);
    info.clock.reference_raw = LoadLittleEndian<std::int64_t>(event + 0x10);

    std::size_t position = layout_size;
    info.logger_name = ReadString(payload, position);
    info.log_file_name = ReadString(payload, position);

    info.compression_format =
        static_cast<std::uint16_t>(LoadLittleEndian<std::uint32_t>(file.data() + etl::kStateOffset) & 0xFFFFu);
    info.header_event_end = etl::kBufferHeaderSize + etl::AlignEvent(size);
    const std::uint32_t mode = LoadLittleEndian<std::uint32_t>(payload.data() + etl::kLogFileModeOffset);
    info.is_kernel_trace = info.logger_name == kKernelLoggerName || (mode & kSystemLoggerMode) != 0;
    return info;
}

}  // namespace dormiscope

// Byte offsets, sizes and codes of the structures stored in .etl files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dormiscope::etl {

// WMI_BUFFER_HEADER, at the start of every buffer.
inline constexpr std::size_t kBufferHeaderSize = 0x48;
inline constexpr std::size_t kBufferSizeOffset = 0x00;
inline constexpr std::size_t kSavedOffsetOffset = 0x04;
inline constexpr std::size_t kCurrentOffsetOffset = 0x08;
inline constexpr std::size_t kBufferTimeStampOffset = 0x10;
inline constexpr std::size_t kSequenceNumberOffset = 0x18;
inline constexpr std::size_t kClientContextOffset = 0x28;  // processor number, then alignment
inline constexpr std::size_t kLoggerIdOffset = 0x2A;
inline constexpr std::size_t kStateOffset = 0x2C;
inline constexpr std::size_t kUsedOffset = 0x30;
inline constexpr std::size_t kBufferFlagOffset = 0x34;
inline constexpr std::size_t kBufferTypeOffset = 0x36;

inline constexpr std::uint16_t kBufferFlagProcessorIndex = 0x0020;
inline constexpr std::uint16_t kBufferFlagCompressed = 0x0040;

// Compression format named by the low 16 bits of the header buffer's State.
inline constexpr std::uint16_t kCompressionFormatPlainLz77 = 3;

// Events start on 8-byte boundaries inside a buffer.
inline constexpr std::size_t kEventAlignment = 8;

constexpr std::size_t AlignEvent(std::size_t size) {
    return (size + kEventAlignment - 1) & ~(kEventAlignment - 1);
}

// Byte 3 of every event: what kind of header starts there.
inline constexpr std::uint8_t kMarkerTypedHeader = 0xC0;
inline constexpr std::uint8_t kMarkerTraceMessage = 0x90;

// Byte 2 of a typed header.
enum HeaderType : std::uint8_t {
    kSystem32 = 0x01,
    kSystem64 = 0x02,
    kCompact32 = 0x03,
    kCompact64 = 0x04,
    kFullHeader32 = 0x0A,
    kInstance32 = 0x0B,
    kPerfInfo32 = 0x10,
    kPerfInfo64 = 0x11,
    kEventHeader32 = 0x12,
    kEventHeader64 = 0x13,
    kFullHeader64 = 0x14,
    kInstance64 = 0x15,
};

inline constexpr std::size_t kSystemHeaderSize = 0x20;
inline constexpr std::size_t kCompactHeaderSize = 0x18;
inline constexpr std::size_t kPerfInfoHeaderSize = 0x10;
inline constexpr std::size_t kFullHeaderSize = 0x30;
inline constexpr std::size_t kInstanceHeaderSize = 0x48;
inline constexpr std::size_t kEventHeaderSize = 0x50;
inline constexpr std::size_t kTraceMessageHeaderSize = 0x08;
inline constexpr std::size_t kExtendedItemHeaderSize = 0x08;

// TRACE_LOGFILE_HEADER, the payload of the first event.
inline constexpr std::size_t kLogfileHeaderSize64 = 0x118;
inline constexpr std::size_t kLogfileHeaderSize32 = 0x110;
inline constexpr std::size_t kLogFileModeOffset = 0x20;
inline constexpr std::size_t kCpuSpeedOffset = 0x34;
// Offsets of the fields after the two name pointers, 64-bit layout; the
// 32-bit layout has them 8 bytes earlier.
inline constexpr std::size_t kPerfFreqOffset64 = 0x100;
inline constexpr std::size_t kStartTimeOffset64 = 0x108;
inline constexpr std::size_t kClockTypeOffset64 = 0x110;
inline constexpr std::size_t kPointerFieldShift32 = 8;

}  // namespace dormiscope::etl

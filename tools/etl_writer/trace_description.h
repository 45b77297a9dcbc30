// The in-code description of a trace: the logfile-header options and the
// events, as the writer lays them out in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/etl_reader/etl_layout.h"
#include "platform/etw_api.h"

namespace dormiscope::etl {

// The on-disk event header forms; the suffix is the pointer size of the event.
enum class HeaderForm {
    System32,       // SYSTEM_TRACE_HEADER, full (0x20): version, group/type, pid/tid
    System64,
    Compact32,      // SYSTEM_TRACE_HEADER, compact (0x18): no kernel/user time
    Compact64,
    Perfinfo32,     // PERFINFO_TRACE_HEADER (0x10): no pid/tid
    Perfinfo64,
    Full32,         // EVENT_TRACE_HEADER (0x30): provider GUID, size-first marker
    Full64,
    Instance32,     // EVENT_INSTANCE_GUID_HEADER (0x48)
    Instance64,
    EventHeader32,  // EVENT_HEADER (0x50): manifest/TraceLogging events
    EventHeader64,
};

// Session clock; the logfile header's ReservedFlags.
enum class Clock : std::uint32_t { QueryPerformanceCounter = 1, SystemTime = 2, CpuCycles = 3 };

inline constexpr std::uint16_t kBufferFlagFlushMarker = 0x0001;
inline constexpr std::uint16_t kBufferTypeGeneric = 0;
inline constexpr std::uint16_t kBufferTypeHeader = 4;

// 2026-01-15 08:00:00 UTC as a FILETIME.
inline constexpr std::int64_t kDefaultStartTime = 134'129'376'000'000'000;

// What goes into the logfile header and how buffers are laid out.
struct TraceOptions {
    std::uint32_t pointer_size = 8;  // 4 or 8: header event form and TRACE_LOGFILE_HEADER layout
    Clock clock = Clock::QueryPerformanceCounter;
    std::int64_t perf_freq = 10'000'000;  // QPC ticks per second (clock 1)
    std::uint32_t cpu_speed_mhz = 3000;   // cycles per microsecond (clock 3)
    std::int64_t start_time = kDefaultStartTime;  // FILETIME of raw stamp `header_raw_timestamp`
    std::int64_t end_time = 0;  // FILETIME; 0: the converted time of the latest event written
    std::int64_t boot_time = kDefaultStartTime - 36'000'000'000;  // an hour before the start
    // Raw stamp of the logfile-header event, which the consumer takes as
    // StartTime; with the system-time clock a FILETIME near start_time is real.
    std::int64_t header_raw_timestamp = 1'000'000;
    std::uint32_t processors = 8;
    std::uint32_t buffer_size = 65536;  // multiple of 8, at least 0x48 + the header event
    std::uint32_t events_lost = 0;
    std::uint32_t buffers_lost = 0;
    std::uint32_t build = 19041;                 // ProviderVersion
    std::uint32_t os_version = 0x0501000A;       // bytes: major 10, minor 0, 1, 5
    std::uint32_t log_file_mode = 0x00000001;    // EVENT_TRACE_FILE_MODE_SEQUENTIAL
    std::uint32_t timer_resolution = 156250;     // 15.625 ms in 100-ns units
    std::uint32_t maximum_file_size = 0;         // MB
    std::uint16_t logger_id = 0x1C;              // LoggerId of every data buffer
    std::uint32_t header_process_id = 4;         // ids in the logfile-header event's header
    std::uint32_t header_thread_id = 8;
    std::u16string logger_name = u"NT Kernel Logger";
    std::u16string log_file_name = u"C:\\trace.etl";
    // Data buffers carry a 16-bit processor index (BufferFlag 0x20). Without
    // it ClientContext holds the processor number and an alignment byte of 8,
    // as on Windows 7, and processors above 255 cannot be written.
    bool proc_index_flag = true;
    // Data buffers are written in the compressed form (Plain LZ77, BufferFlag
    // 0x40, on-disk BufferSize = 0x48 + compressed length); the header buffer
    // is shrunk to its used length and LogFileMode gains COMPRESSED_MODE, as
    // relogging tools do.
    bool compress = false;
};

// One event as it will appear in a processor's buffer.
struct Event {
    std::uint32_t processor = 0;   // < TraceOptions::processors
    std::int64_t raw_timestamp = 0;  // in the session clock
    HeaderForm form = HeaderForm::System64;
    std::uint8_t group = 0;        // system/compact/perfinfo forms: Packet.Group
    std::uint8_t type = 0;         // opcode: Packet.Type, Class.Type or descriptor Opcode
    // The whole version word. For the perfinfo forms its high byte holds flags
    // (0x80 PEBS item, 0x07 counter count); the extended items they announce
    // must then lead the payload.
    std::uint16_t version = 0;
    std::uint32_t pid = 0;         // not stored by the perfinfo forms
    std::uint32_t tid = 0;
    GUID provider{};               // full, instance and EVENT_HEADER forms
    std::uint8_t level = 0;        // full, instance and EVENT_HEADER forms
    std::uint16_t event_id = 0;    // EVENT_HEADER forms: descriptor Id
    std::uint64_t keyword = 0;     // EVENT_HEADER forms: descriptor Keyword
    std::vector<std::uint8_t> payload;
};

}  // namespace dormiscope::etl

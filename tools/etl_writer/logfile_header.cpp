#include "etl_writer/logfile_header.h"

#include <string>
#include <utility>

#include "etl_writer/byte_output.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etl {
namespace {

constexpr std::size_t kTimeZoneNameUnits = 32;
constexpr std::uint32_t kCompressedMode = 0x04000000;  // EVENT_TRACE_COMPRESSED_MODE

void PutTimeZoneName(Bytes& out, const std::u16string& name) {
    for (std::size_t i = 0; i < kTimeZoneNameUnits; ++i) {
        PutLE(out, static_cast<std::uint16_t>(i < name.size() ? name[i] : 0));
    }
}

// TIME_ZONE_INFORMATION (172 bytes) of a machine on UTC.
void PutUtcTimeZone(Bytes& out) {
    PutLE(out, std::int32_t{0});  // Bias
    PutTimeZoneName(out, u"@tzres.dll,-932");
    PutZeros(out, 16);            // StandardDate
    PutLE(out, std::int32_t{0});  // StandardBias
    PutTimeZoneName(out, u"@tzres.dll,-931");
    PutZeros(out, 16);            // DaylightDate
    PutLE(out, std::int32_t{0});  // DaylightBias
}

}  // namespace

Event LogfileHeaderEvent(const TraceOptions& options, std::uint32_t buffers_written, std::int64_t end_time) {
    Bytes header;
    PutLE(header, options.buffer_size);
    PutLE(header, options.os_version);
    PutLE(header, options.build);
    PutLE(header, options.processors);
    PutLE(header, end_time);
    PutLE(header, options.timer_resolution);
    PutLE(header, options.maximum_file_size);
    PutLE(header, options.log_file_mode | (options.compress ? kCompressedMode : 0));
    PutLE(header, buffers_written);
    PutLE(header, std::uint32_t{1});  // StartBuffers
    PutLE(header, options.pointer_size);
    PutLE(header, options.events_lost);
    PutLE(header, options.cpu_speed_mhz);
    PutPointer(header, 0, options.pointer_size);  // LoggerName: meaningless in files
    PutPointer(header, 0, options.pointer_size);  // LogFileName
    PutUtcTimeZone(header);
    PutZeros(header, 4);  // alignment of BootTime
    PutLE(header, options.boot_time);
    PutLE(header, options.perf_freq);
    PutLE(header, options.start_time);
    PutLE(header, static_cast<std::uint32_t>(options.clock));  // ReservedFlags
    PutLE(header, options.buffers_lost);
    PutUtf16Z(header, options.logger_name);
    PutUtf16Z(header, options.log_file_name);

    Event event;
    event.processor = 0;
    event.raw_timestamp = options.header_raw_timestamp;
    event.form = options.pointer_size == 4 ? HeaderForm::System32 : HeaderForm::System64;
    event.group = kGroupEventTrace;
    event.type = kOpcodeHeader;
    event.version = kHeaderVersion;
    event.pid = options.header_process_id;
    event.tid = options.header_thread_id;
    event.payload = std::move(header);
    return event;
}

}  // namespace dormiscope::etl

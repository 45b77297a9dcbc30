#include "etwdump/trace_summary.h"

#include <span>

#include "etwdump/event_json.h"
#include "etwdump/json_text.h"
#include "platform/etl_reader/etl_layout.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etwdump {
namespace {

// The name fields are fixed arrays that need not hold a terminator; WCHAR is
// char16_t here and wchar_t (also UTF-16) on Windows.
std::u16string FixedText(const WCHAR (&name)[32]) {
    std::u16string text;
    for (const WCHAR unit : name) {
        if (unit == 0) {
            break;
        }
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

void AppendSystemTime(std::string& out, const SYSTEMTIME& time) {
    JsonObject object(out);
    object.Number("wYear", time.wYear);
    object.Number("wMonth", time.wMonth);
    object.Number("wDayOfWeek", time.wDayOfWeek);
    object.Number("wDay", time.wDay);
    object.Number("wHour", time.wHour);
    object.Number("wMinute", time.wMinute);
    object.Number("wSecond", time.wSecond);
    object.Number("wMilliseconds", time.wMilliseconds);
}

void AppendTimeZone(std::string& out, const TIME_ZONE_INFORMATION& zone) {
    JsonObject object(out);
    object.Number("Bias", zone.Bias);
    object.Text("StandardName", FixedText(zone.StandardName));
    AppendSystemTime(object.Key("StandardDate"), zone.StandardDate);
    object.Number("StandardBias", zone.StandardBias);
    object.Text("DaylightName", FixedText(zone.DaylightName));
    AppendSystemTime(object.Key("DaylightDate"), zone.DaylightDate);
    object.Number("DaylightBias", zone.DaylightBias);
}

}  // namespace

void TraceSummary::Add(const EVENT_RECORD& event) {
    const EVENT_HEADER& header = event.EventHeader;
    if (events_++ == 0 && SameGuid(header.ProviderId, kEventTraceProvider) &&
        header.EventDescriptor.Opcode == kOpcodeHeader && event.UserData != nullptr) {
        const std::size_t header_size = PointerSizeOf(event) == 4 ? etl::kLogfileHeaderSize32 : etl::kLogfileHeaderSize64;
        std::span<const std::uint8_t> payload(static_cast<const std::uint8_t*>(event.UserData), event.UserDataLength);
        if (payload.size() >= header_size) {
            payload = payload.subspan(header_size);
            logger_name_ = TakeUtf16(payload);
            log_file_name_ = logger_name_ ? TakeUtf16(payload) : std::nullopt;
        }
    }
    ++counts_[{GuidText(header.ProviderId), header.EventDescriptor.Opcode, header.EventDescriptor.Version}];
}

std::string TraceSummary::ToJson(const TRACE_LOGFILE_HEADER& header) const {
    std::string out;
    {
        JsonObject summary(out);
        {
            JsonObject fields(summary.Key("header"));
            fields.Number("BufferSize", header.BufferSize);
            fields.Number("Version", header.Version);
            fields.Number("ProviderVersion", header.ProviderVersion);
            fields.Number("NumberOfProcessors", header.NumberOfProcessors);
            fields.Number("EndTime", header.EndTime.QuadPart);
            fields.Number("TimerResolution", header.TimerResolution);
            fields.Number("MaximumFileSize", header.MaximumFileSize);
            fields.Number("LogFileMode", header.LogFileMode);
            fields.Number("BuffersWritten", header.BuffersWritten);
            fields.Number("StartBuffers", header.StartBuffers);
            fields.Number("PointerSize", header.PointerSize);
            fields.Number("EventsLost", header.EventsLost);
            fields.Number("CpuSpeedInMHz", header.CpuSpeedInMHz);
            // The pointer fields mean nothing in a file; the names follow the header.
            fields.OptionalText("LoggerName", logger_name_);
            fields.OptionalText("LogFileName", log_file_name_);
            AppendTimeZone(fields.Key("TimeZone"), header.TimeZone);
            fields.Number("BootTime", header.BootTime.QuadPart);
            fields.Number("PerfFreq", header.PerfFreq.QuadPart);
            fields.Number("StartTime", header.StartTime.QuadPart);
            fields.Number("ReservedFlags", header.ReservedFlags);
            fields.Number("BuffersLost", header.BuffersLost);
        }
        summary.Number("events", static_cast<std::int64_t>(events_));
        std::string& counts = summary.Key("counts");
        counts += '[';
        bool first = true;
        for (const auto& [key, count] : counts_) {
            if (!first) {
                counts += ',';
            }
            first = false;
            JsonObject entry(counts);
            AppendJsonString(entry.Key("provider"), std::get<0>(key));
            entry.Number("opcode", std::get<1>(key));
            entry.Number("version", std::get<2>(key));
            entry.Number("count", static_cast<std::int64_t>(count));
        }
        counts += ']';
    }
    return out;
}

}  // namespace dormiscope::etwdump

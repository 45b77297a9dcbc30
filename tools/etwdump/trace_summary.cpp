#include "etwdump/trace_summary.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <tuple>
#include <vector>
#include <span>

#include "etwdump/event_class_names.h"
#include "etwdump/event_json.h"
#include "etwdump/json_text.h"
#include "etw/logfile_header_field.h"
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

constexpr std::size_t kCountWidth = 13;

// 1234567 as "1,234,567": counts are read at a glance.
std::string Grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t position = digits.size(); position > 3; position -= 3) {
        digits.insert(position - 3, 1, ',');
    }
    return digits;
}

std::string Plural(std::uint64_t count, const std::string& noun) {
    return Grouped(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Seconds(std::uint64_t hundred_nanoseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(hundred_nanoseconds) / 1e7);
    return text;
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
    const EVENT_DESCRIPTOR& descriptor = header.EventDescriptor;
    Count& count = counts_[{GuidText(header.ProviderId), descriptor.Opcode, descriptor.Version}];
    count.provider = header.ProviderId;
    ++count.events;
}

std::string TraceSummary::ToJson(const TRACE_LOGFILE_HEADER& header, std::uint32_t buffers_read) const {
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
        summary.Number("buffers_read", buffers_read);
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
            entry.Number("count", static_cast<std::int64_t>(count.events));
        }
        counts += ']';
    }
    return out;
}

std::string TraceSummary::ToTable(const TRACE_LOGFILE_HEADER& header, std::uint32_t buffers_read) const {
    const auto start = ReadLogfileHeaderField<std::int64_t>(header, offsetof(TRACE_LOGFILE_HEADER, StartTime));
    const auto buffers_lost =
        ReadLogfileHeaderField<std::uint32_t>(header, offsetof(TRACE_LOGFILE_HEADER, BuffersLost));
    const std::int64_t length = header.EndTime.QuadPart - start;
    std::string out = "trace:   " + Plural(header.NumberOfProcessors, "processor") + ", " +
                      Seconds(length > 0 ? static_cast<std::uint64_t>(length) : 0) + " s from the header, " +
                      Plural(events_, "event") + "\n";
    out += "buffers: " + Grouped(buffers_read) + " of the " + Grouped(header.BuffersWritten) + " the header counts";
    out += buffers_read < header.BuffersWritten ? ": the recording was cut short\n" : "\n";
    out += "lost:    " + Plural(header.EventsLost, "event") + ", " + Plural(buffers_lost, "buffer") + "\n\n";

    // By group name, then opcode and version; other providers' braced GUIDs sort after the names.
    struct Row {
        std::string group;
        unsigned opcode;
        unsigned version;
        std::string label;
        std::string count;
    };
    std::vector<Row> rows;
    std::size_t name_width = std::string_view("event class").size();
    for (const auto& [key, count] : counts_) {
        const auto& [provider, opcode, version] = key;
        std::string label = EventClassName(count.provider, static_cast<std::uint8_t>(opcode)) + " v" +
                            std::to_string(version);
        name_width = std::max(name_width, label.size());
        rows.push_back({label.substr(0, label.find(' ')), opcode, version, std::move(label), Grouped(count.events)});
    }
    std::sort(rows.begin(), rows.end(), [](const Row& left, const Row& right) {
        return std::tie(left.group, left.opcode, left.version) < std::tie(right.group, right.opcode, right.version);
    });
    const auto line = [&](const std::string& label, const std::string& count) {
        out += label + std::string(name_width - label.size() + 2, ' ');
        out += std::string(kCountWidth - std::min(kCountWidth, count.size()), ' ') + count + "\n";
    };
    line("event class", "count");
    for (const Row& row : rows) {
        line(row.label, row.count);
    }
    return out;
}

}  // namespace dormiscope::etwdump

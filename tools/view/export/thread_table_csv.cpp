#include "view/export/thread_table_csv.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

#include "view/export/export_text.h"

namespace dormiscope::view {
namespace {

constexpr const char* kHeading =
    "process,pid,tid,thread,wakes,wakes_per_s,idle_wakes,idle_wakes_by_cstate,on_cpu_ms,off_cpu_ms_median,"
    "off_cpu_ms_p10,off_cpu_ms_p90,off_cpu_intervals,period,share_in_class,period_classes,wakes_over_time,"
    "top_readiers\r\n";

std::string Field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char character : text) {
        quoted += character;
        if (character == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

// 100-ns units as milliseconds, exactly, as the JSON document writes them.
std::string Milliseconds(std::uint64_t units) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%04" PRIu64, units / 10000, units % 10000);
    return text;
}

std::string Decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// "C1 4; C3 2", "15 ms: 599; 20 ms: 3".
template <typename Key>
std::string Counts(const std::map<Key, std::uint64_t>& counts, std::string_view before, std::string_view after) {
    std::string text;
    for (const auto& [key, count] : counts) {
        text.append(text.empty() ? "" : "; ").append(before).append(std::to_string(key));
        text.append(after).append(std::to_string(count));
    }
    return text;
}

std::string Timeline(const std::vector<std::uint32_t>& slices) {
    std::string text;
    for (const std::uint32_t count : slices) {
        text.append(text.empty() ? "" : " ").append(std::to_string(count));
    }
    return text;
}

std::string Readiers(const std::optional<std::vector<ReadierFigure>>& readiers) {
    if (!readiers) {
        return "not recorded";
    }
    std::string text;
    for (const ReadierFigure& readier : *readiers) {
        text.append(text.empty() ? "" : "; ").append(ReadierText(readier));
        text.append(": ").append(std::to_string(readier.count));
    }
    return text;
}

}  // namespace

std::string ThreadTableCsv(const TraceFigures& figures) {
    std::string out = kHeading;
    for (const ProcessFigures& process : figures.processes) {
        const std::string process_fields =
            Field(Utf8Of(process.name)) + "," + std::to_string(process.process_id) + ",";
        for (const ThreadFigures& thread : process.threads) {
            std::vector<std::string> fields = {
                std::to_string(thread.thread_id),
                Field(Utf8Of(thread.name)),
                std::to_string(thread.wakes),
                Decimal(thread.wakes_per_second),
                std::to_string(thread.idle_wakes),
                Counts(thread.idle_wakes_by_cstate, "C", " "),
                Milliseconds(thread.on_processor),
                thread.intervals ? Milliseconds(thread.intervals->median) : "",
                thread.intervals ? Milliseconds(thread.intervals->p10) : "",
                thread.intervals ? Milliseconds(thread.intervals->p90) : "",
                thread.intervals ? std::to_string(thread.intervals->count) : "0",
                thread.periodicity_ms ? std::to_string(*thread.periodicity_ms) + "ms" : "",
                thread.regularity ? Decimal(*thread.regularity) : "",
                Counts(thread.period_classes, "", " ms: "),
                Timeline(thread.timeline),
                Field(Readiers(thread.top_readiers)),
            };
            out += process_fields;
            for (std::size_t index = 0; index < fields.size(); ++index) {
                out.append(index == 0 ? "" : ",").append(fields[index]);
            }
            out += "\r\n";
        }
    }
    return out;
}

}  // namespace dormiscope::view

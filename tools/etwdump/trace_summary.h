// What `etwdump --summary` prints: the logfile header, the number of events
// and how many there were of each provider, opcode and version.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/etw_api.h"

namespace dormiscope::etwdump {

class TraceSummary {
public:
    // Counts the event; the first one delivered is the logfile header event,
    // whose payload also holds the logger and log file names.
    void Add(const EVENT_RECORD& event);

    // One JSON object (no line end): "header" with every field of the header
    // and the two names, "events", "buffers_read" (what the file held; fewer
    // than the header's BuffersWritten when the recording was cut short), and
    // "counts" ordered by provider, opcode and version.
    std::string ToJson(const TRACE_LOGFILE_HEADER& header, std::uint32_t buffers_read) const;

    // The same for people: a few lines on the trace, then one line per event
    // class (its name where known) and version with its count.
    std::string ToTable(const TRACE_LOGFILE_HEADER& header, std::uint32_t buffers_read) const;

private:
    using CountKey = std::tuple<std::string, unsigned, unsigned>;
    struct Count {
        GUID provider;
        std::uint64_t events = 0;
    };

    std::uint64_t events_ = 0;
    std::map<CountKey, Count> counts_;
    std::optional<std::u16string> logger_name_;
    std::optional<std::u16string> log_file_name_;
};

}  // namespace dormiscope::etwdump

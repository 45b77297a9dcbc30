// Events made a little out of time order (a wake's DPC and ready come before
// its context switch, but are made with it) written in time order: each is
// held until no event made later can come before it. Events of one time keep
// the order they were made in, so an event's stack stays right behind it.
#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "etl_writer/etl_writer.h"

namespace dormiscope::sample {

struct TimedEvent {
    std::int64_t time = 0;  // 100-ns units from the trace start
    std::string kind;       // e.g. "Process DCStart", "CSwitch", "Stack"
    etl::Event event;
};

class TimeOrderedEvents {
public:
    explicit TimeOrderedEvents(etl::EtlWriter& writer) : writer_(writer) {}

    void Add(TimedEvent event);
    // Writes, with their raw stamps, the events held that are earlier than
    // `time`: the caller makes no event before it from now on.
    void WriteBefore(std::int64_t time);
    void WriteAll() { WriteBefore(std::numeric_limits<std::int64_t>::max()); }

    const std::map<std::string, std::uint64_t>& written_by_kind() const { return written_by_kind_; }

private:
    struct Held {
        std::uint64_t order;
        TimedEvent event;
    };
    static bool Later(const Held& a, const Held& b);

    etl::EtlWriter& writer_;
    std::vector<Held> heap_;  // earliest on top
    std::uint64_t made_ = 0;
    std::map<std::string, std::uint64_t> written_by_kind_;
};

}  // namespace dormiscope::sample

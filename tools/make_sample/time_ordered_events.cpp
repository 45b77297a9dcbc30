#include "make_sample/time_ordered_events.h"

#include <algorithm>

#include "etl_writer/trace_clock.h"

namespace dormiscope::sample {

bool TimeOrderedEvents::Later(const Held& a, const Held& b) {
    return a.event.time != b.event.time ? a.event.time > b.event.time : a.order > b.order;
}

void TimeOrderedEvents::Add(TimedEvent event) {
    heap_.push_back({made_++, std::move(event)});
    std::push_heap(heap_.begin(), heap_.end(), Later);
}

void TimeOrderedEvents::WriteBefore(std::int64_t time) {
    while (!heap_.empty() && heap_.front().event.time < time) {
        std::pop_heap(heap_.begin(), heap_.end(), Later);
        TimedEvent& event = heap_.back().event;
        event.event.raw_timestamp = etl::RawFromOffset(writer_.options(), static_cast<std::uint64_t>(event.time));
        writer_.Add(event.event);
        ++written_by_kind_[event.kind];
        heap_.pop_back();
    }
}

}  // namespace dormiscope::sample

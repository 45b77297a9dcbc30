// Delivery of the events of all processors oldest first: a k-way merge of the
// per-processor streams by raw time stamp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/processor_stream.h"

namespace dormiscope {

// A stream in the merge, with the order key of its next event kept beside it,
// so that comparing two streams touches only the heap's own array.
struct MergeHead {
    std::int64_t time;
    std::uint16_t processor;
    ProcessorStream* stream;
};

// Whether `a`'s next event comes after `b`'s: later stamp, or the same stamp
// on a higher processor (equal stamps go to the lower processor first).
inline bool DeliveredAfter(const MergeHead& a, const MergeHead& b) {
    return a.time != b.time ? a.time > b.time : a.processor > b.processor;
}

// Restores the heap after the head at the top took its stream's next event;
// usually that event is still the earliest, and this costs two comparisons.
void SiftTopDown(std::vector<MergeHead>& heap);

// Calls `deliver(const ProcessorStream&)` for every event of every stream, the
// stream standing at it, in time order; each stream's own order is kept. A stream that fails ends there and
// the others go on, so every event before the damage in each stream is
// delivered; the first such failure is returned at the end. A non-zero status
// of `deliver` stops everything at once and is returned.
template <typename Deliver>
ULONG MergeStreams(std::span<ProcessorStream> streams, Deliver&& deliver) {
    ULONG first_failure = ERROR_SUCCESS;
    const auto advance = [&](ProcessorStream& stream) {
        const ULONG status = stream.Advance();
        if (status != ERROR_SUCCESS && first_failure == ERROR_SUCCESS) {
            first_failure = status;
        }
        return stream.HasEvent();
    };
    std::vector<MergeHead> heap;
    heap.reserve(streams.size());
    for (ProcessorStream& stream : streams) {
        if (advance(stream)) {
            heap.push_back({stream.RawTime(), stream.Processor(), &stream});
        }
    }
    std::make_heap(heap.begin(), heap.end(), DeliveredAfter);
    while (!heap.empty()) {
        MergeHead& earliest = heap.front();
        if (const ULONG status = deliver(*earliest.stream); status != ERROR_SUCCESS) {
            return status;
        }
        if (advance(*earliest.stream)) {
            earliest.time = earliest.stream->RawTime();
            SiftTopDown(heap);
        } else {
            std::pop_heap(heap.begin(), heap.end(), DeliveredAfter);
            heap.pop_back();
        }
    }
    return first_failure;
}

}  // namespace dormiscope

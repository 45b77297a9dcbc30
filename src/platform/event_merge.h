// Delivery of the events of all processors oldest first: a k-way merge of the
// per-processor streams by raw time stamp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

#include "platform/etw_api.h"
#include "platform/processor_stream.h"

namespace dormiscope {

// Whether `a`'s next event comes after `b`'s: later stamp, or the same stamp
// on a higher processor (equal stamps go to the lower processor first).
inline bool DeliveredAfter(const ProcessorStream* a, const ProcessorStream* b) {
    if (a->RawTime() != b->RawTime()) {
        return a->RawTime() > b->RawTime();
    }
    return a->Processor() > b->Processor();
}

// Restores the heap after the stream at the top moved to its next event;
// usually that event is still the earliest, and this costs two comparisons.
void SiftTopDown(std::vector<ProcessorStream*>& heap);

// Calls `deliver(EVENT_RECORD&)` for every event of every stream in time
// order; each stream's own order is kept. Stops at the first non-zero status
// of `deliver` or of a stream and returns it.
template <typename Deliver>
ULONG MergeStreams(std::span<ProcessorStream> streams, Deliver&& deliver) {
    std::vector<ProcessorStream*> heap;
    heap.reserve(streams.size());
    for (ProcessorStream& stream : streams) {
        const ULONG status = stream.Advance();
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (stream.HasEvent()) {
            heap.push_back(&stream);
        }
    }
    std::make_heap(heap.begin(), heap.end(), DeliveredAfter);
    while (!heap.empty()) {
        ProcessorStream* const earliest = heap.front();
        ULONG status = deliver(earliest->Record());
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status = earliest->Advance();
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (earliest->HasEvent()) {
            SiftTopDown(heap);
        } else {
            std::pop_heap(heap.begin(), heap.end(), DeliveredAfter);
            heap.pop_back();
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace dormiscope

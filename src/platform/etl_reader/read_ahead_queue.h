// Hands the order of delivery from the thread that reads ahead to the thread
// that delivers: batches of (buffer, event position, stamp) in time order,
// through a fixed set of batches, and the buffers those point into, each
// given back for reuse once the batch that delivered its last event is done.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/etw_api.h"
#include "platform/etl_reader/loaded_buffer.h"

namespace dormiscope {

struct OrderedEvent {
    const LoadedBuffer* buffer;
    std::uint32_t offset;
    std::int64_t raw_time;
};

struct EventBatch {
    static constexpr std::size_t kEvents = 16384;

    std::vector<OrderedEvent> events;
    // Buffers whose last event is in this batch or an earlier one.
    std::vector<LoadedBuffer*> finished;
};

class ReadAheadQueue {
public:
    // The batches that may be filled before one is delivered.
    static constexpr std::size_t kBatches = 4;

    ReadAheadQueue();

    // Reader side. An empty batch to fill, or null once the deliverer stopped.
    EventBatch* TakeEmpty();
    void Publish(EventBatch* batch);
    // No more batches will come; `status` is what reading ended with.
    void Finish(ULONG status);
    // A buffer to load into: one given back, or a new one.
    LoadedBuffer* TakeBuffer();
    // Buffers whose events were all delivered without a batch, for reuse; empties `buffers`.
    void GiveBackBuffers(std::vector<LoadedBuffer*>& buffers);

    // Deliverer side. The next full batch, or null after the last one.
    EventBatch* TakeFull();
    // The batch is delivered: it and its finished buffers may be reused.
    void GiveBack(EventBatch* batch);
    // The deliverer wants no more batches; a waiting reader is released.
    void Stop();
    // Valid once TakeFull() returned null.
    ULONG FinalStatus() const { return final_status_; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<EventBatch> batches_;
    std::vector<EventBatch*> empty_;
    std::deque<EventBatch*> full_;
    std::vector<std::unique_ptr<LoadedBuffer>> buffers_;
    std::vector<LoadedBuffer*> free_buffers_;
    bool finished_ = false;
    bool stopped_ = false;
    ULONG final_status_ = ERROR_SUCCESS;
};

}  // namespace dormiscope

// Hands batches of decoded events from the thread that reads ahead to the
// thread that delivers them, in order, through a fixed set of batches: the
// reader waits when all are full, the deliverer when all are empty.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/etw_api.h"
#include "platform/event_batch.h"

namespace dormiscope {

class BatchQueue {
public:
    BatchQueue();

    // Reader side: an empty batch to fill, or null once the deliverer stopped.
    EventBatch* TakeEmpty();
    void Publish(EventBatch* batch);
    // No more batches will come; `status` is what reading ended with.
    void Finish(ULONG status);

    // Deliverer side: the next full batch, or null after the last one.
    EventBatch* TakeFull();
    void GiveBack(EventBatch* batch);
    // The deliverer wants no more batches; a waiting reader is released.
    void Stop();
    // Valid once TakeFull() returned null.
    ULONG FinalStatus() const { return final_status_; }

private:
    static constexpr std::size_t kBatches = 4;

    std::array<EventBatch, kBatches> batches_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<EventBatch*> empty_;
    std::deque<EventBatch*> full_;
    bool finished_ = false;
    bool stopped_ = false;
    ULONG final_status_ = ERROR_SUCCESS;
};

}  // namespace dormiscope

#include "platform/batch_queue.h"

namespace dormiscope {

BatchQueue::BatchQueue() {
    for (EventBatch& batch : batches_) {
        empty_.push_back(&batch);
    }
}

EventBatch* BatchQueue::TakeEmpty() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || !empty_.empty(); });
    if (stopped_) {
        return nullptr;
    }
    EventBatch* const batch = empty_.back();
    empty_.pop_back();
    return batch;
}

void BatchQueue::Publish(EventBatch* batch) {
    {
        const std::lock_guard lock(mutex_);
        full_.push_back(batch);
    }
    changed_.notify_all();
}

void BatchQueue::Finish(ULONG status) {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        final_status_ = status;
    }
    changed_.notify_all();
}

EventBatch* BatchQueue::TakeFull() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || !full_.empty(); });
    if (full_.empty()) {
        return nullptr;
    }
    EventBatch* const batch = full_.front();
    full_.pop_front();
    return batch;
}

void BatchQueue::GiveBack(EventBatch* batch) {
    batch->Clear();
    {
        const std::lock_guard lock(mutex_);
        empty_.push_back(batch);
    }
    changed_.notify_all();
}

void BatchQueue::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

}  // namespace dormiscope

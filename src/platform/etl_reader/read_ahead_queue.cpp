#include "platform/etl_reader/read_ahead_queue.h"

namespace dormiscope {

ReadAheadQueue::ReadAheadQueue() : batches_(kBatches) {
    // Batches grow as they fill: a small trace takes only what it holds.
    for (EventBatch& batch : batches_) {
        empty_.push_back(&batch);
    }
}

EventBatch* ReadAheadQueue::TakeEmpty() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopped_ || !empty_.empty(); });
    if (stopped_) {
        return nullptr;
    }
    EventBatch* const batch = empty_.back();
    empty_.pop_back();
    return batch;
}

void ReadAheadQueue::Publish(EventBatch* batch) {
    {
        const std::lock_guard lock(mutex_);
        full_.push_back(batch);
    }
    changed_.notify_all();
}

void ReadAheadQueue::Finish(ULONG status) {
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
        final_status_ = status;
    }
    changed_.notify_all();
}

LoadedBuffer* ReadAheadQueue::TakeBuffer() {
    const std::lock_guard lock(mutex_);
    if (free_buffers_.empty()) {
        return buffers_.emplace_back(std::make_unique<LoadedBuffer>()).get();
    }
    LoadedBuffer* const buffer = free_buffers_.back();
    free_buffers_.pop_back();
    return buffer;
}

void ReadAheadQueue::GiveBackBuffers(std::vector<LoadedBuffer*>& buffers) {
    const std::lock_guard lock(mutex_);
    free_buffers_.insert(free_buffers_.end(), buffers.begin(), buffers.end());
    buffers.clear();
}

EventBatch* ReadAheadQueue::TakeFull() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_ || !full_.empty(); });
    if (full_.empty()) {
        return nullptr;
    }
    EventBatch* const batch = full_.front();
    full_.pop_front();
    return batch;
}

void ReadAheadQueue::GiveBack(EventBatch* batch) {
    batch->events.clear();
    {
        const std::lock_guard lock(mutex_);
        free_buffers_.insert(free_buffers_.end(), batch->finished.begin(), batch->finished.end());
        batch->finished.clear();
        empty_.push_back(batch);
    }
    changed_.notify_all();
}

void ReadAheadQueue::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

}  // namespace dormiscope

#include "platform/etl_reader/processor_stream.h"

namespace dormiscope {

ProcessorStream::ProcessorStream(StreamShared& shared, std::span<const BufferInfo> buffers)
    : shared_(shared), buffers_(buffers), processor_(buffers.empty() ? 0 : buffers.front().processor) {}

ULONG ProcessorStream::NextBuffer() {
    current_ = nullptr;
    for (;;) {
        if (buffer_ != nullptr) {
            // Its events may still be waiting for delivery: the buffer is
            // reused only once the batch being filled is delivered.
            shared_.finished->push_back(buffer_);
            buffer_ = nullptr;
        }
        if (failure_ != ERROR_SUCCESS) {
            if (!shared_.damage) {
                shared_.damage = damage_;
            }
            return End(failure_);
        }
        if (next_buffer_ == buffers_.size()) {
            return End(ERROR_SUCCESS);
        }
        LoadedBuffer* const buffer = shared_.queue.TakeBuffer();
        failure_ = LoadBuffer(shared_.file, buffers_[next_buffer_++], *buffer, shared_.stored,
                              shared_.usual_buffer_size, shared_.budget);
        buffer_ = buffer;
        damage_ = buffer->damage;
        // After a failure only the events listed before the damage are
        // delivered; nothing after it in this processor's buffers.
        if (!buffer->events.empty()) {
            current_ = buffer->events.data();
            end_ = current_ + buffer->events.size();
            return ERROR_SUCCESS;
        }
    }
}

ULONG ProcessorStream::End(ULONG status) {
    current_ = nullptr;
    if (buffer_ != nullptr) {
        shared_.finished->push_back(buffer_);
        buffer_ = nullptr;
    }
    next_buffer_ = buffers_.size();
    failure_ = ERROR_SUCCESS;
    return status;
}

}  // namespace dormiscope

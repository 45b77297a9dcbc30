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
        if (next_buffer_ == buffers_.size()) {
            return End(ERROR_SUCCESS);
        }
        LoadedBuffer* const buffer = shared_.queue.TakeBuffer();
        const ULONG status =
            LoadBuffer(shared_.file, buffers_[next_buffer_++], *buffer, shared_.stored, shared_.budget);
        buffer_ = buffer;
        if (status != ERROR_SUCCESS) {
            if (!shared_.damage) {
                shared_.damage = buffer->damage;
            }
            // Nothing of the damaged buffer nor after it is delivered.
            return End(status);
        }
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
    return status;
}

}  // namespace dormiscope

#include "platform/processor_stream.h"

namespace dormiscope {

ProcessorStream::ProcessorStream(StreamShared& shared, std::span<const BufferInfo> buffers)
    : shared_(shared), buffers_(buffers), processor_(buffers.empty() ? 0 : buffers.front().processor) {}

ULONG ProcessorStream::Advance() {
    while (buffer_ == nullptr || next_ == buffer_->events.size()) {
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
        next_ = 0;
        if (status != ERROR_SUCCESS) {
            // Nothing of the damaged buffer nor after it is delivered.
            return End(status);
        }
    }
    ++next_;
    return ERROR_SUCCESS;
}

ULONG ProcessorStream::End(ULONG status) {
    if (buffer_ != nullptr) {
        shared_.finished->push_back(buffer_);
        buffer_ = nullptr;
    }
    next_buffer_ = buffers_.size();
    return status;
}

}  // namespace dormiscope

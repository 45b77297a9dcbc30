// What a trace file's handle does the same way on every system; opening,
// closing and reading are trace_file_posix.cpp's or trace_file_windows.cpp's.
#include "platform/etl_reader/trace_file.h"

#include <utility>

namespace dormiscope {

TraceFile::TraceFile(TraceFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(std::exchange(other.size_, 0)) {}

TraceFile& TraceFile::operator=(TraceFile&& other) noexcept {
    if (this != &other) {
        Close(handle_);
        handle_ = std::exchange(other.handle_, kClosed);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

TraceFile::~TraceFile() {
    Close(handle_);
}

}  // namespace dormiscope

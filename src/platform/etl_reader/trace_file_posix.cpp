#include "platform/etl_reader/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace dormiscope {

std::optional<TraceFile> TraceFile::Open(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        ::close(descriptor);
        return std::nullopt;
    }
    // Buffers are read mostly front to back: let the kernel read ahead generously.
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return TraceFile(descriptor, static_cast<std::uint64_t>(status.st_size));
}

void TraceFile::Close(Handle handle) {
    if (handle != kClosed) {
        ::close(handle);
    }
}

bool TraceFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    if (offset > size_ || bytes.size() > size_ - offset) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            ::pread(handle_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace dormiscope

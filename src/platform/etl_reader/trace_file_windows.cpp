#include "platform/etl_reader/trace_file.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

namespace dormiscope {

std::optional<TraceFile> TraceFile::Open(const std::filesystem::path& path) {
    // A trace still being recorded is shared for writing by its logger.
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &size) || size.QuadPart <= 0) {
        ::CloseHandle(handle);
        return std::nullopt;
    }
    return TraceFile(handle, static_cast<std::uint64_t>(size.QuadPart));
}

void TraceFile::Close(Handle handle) {
    if (handle != kClosed) {
        ::CloseHandle(handle);
    }
}

bool TraceFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    if (offset > size_ || bytes.size() > size_ - offset) {
        return false;
    }
    // One ReadFile moves at most a DWORD's count of bytes.
    constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint64_t position = offset + done;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const auto wanted = static_cast<DWORD>(std::min(bytes.size() - done, kMaxChunk));
        DWORD got = 0;
        if (!::ReadFile(handle_, bytes.data() + done, wanted, &got, &at) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}

}  // namespace dormiscope

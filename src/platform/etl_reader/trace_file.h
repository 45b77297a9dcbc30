// A trace file read with positioned reads into the reader's own buffers: no
// mapping whose pages would stay resident and be faulted in one by one, so
// memory stays bounded whatever the file's size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace dormiscope {

class TraceFile {
public:
    // The regular, non-empty file at `path`, or empty when it cannot be opened.
    static std::optional<TraceFile> Open(const std::filesystem::path& path);

    TraceFile(TraceFile&& other) noexcept;
    TraceFile& operator=(TraceFile&& other) noexcept;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    ~TraceFile();

    std::uint64_t Size() const { return size_; }

    // Fills `bytes` from `offset`; false when the file ends first or a read fails.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;

private:
#ifdef _WIN32
    using Handle = void*;  // the file's HANDLE
    static constexpr Handle kClosed = nullptr;
#else
    using Handle = int;  // the file's descriptor
    static constexpr Handle kClosed = -1;
#endif

    TraceFile(Handle handle, std::uint64_t size) : handle_(handle), size_(size) {}
    static void Close(Handle handle);

    Handle handle_ = kClosed;
    std::uint64_t size_ = 0;
};

}  // namespace dormiscope

// A whole file mapped read-only into memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace dormiscope {

class MappedFile {
public:
    // The mapping of the regular file at `path`, or empty when it cannot be
    // opened, is not a regular file, or is empty (nothing to map).
    static std::optional<MappedFile> Open(const std::filesystem::path& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

private:
    MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void Unmap();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace dormiscope

#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace dormiscope {

std::optional<MappedFile> MappedFile::Open(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) {
        ::close(descriptor);
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    void* const data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0);
    // The mapping keeps the file alive; the descriptor is no longer needed.
    ::close(descriptor);
    if (data == MAP_FAILED) {
        return std::nullopt;
    }
    return MappedFile(static_cast<const std::uint8_t*>(data), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() { Unmap(); }

void MappedFile::Unmap() {
    if (data_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
        data_ = nullptr;
        size_ = 0;
    }
}

}  // namespace dormiscope

#include "view/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace dormiscope::view {

OutputFile::OutputFile(std::filesystem::path destination)
    : destination_(std::move(destination)),
      temporary_(destination_.string() + ".partial-" + std::to_string(::getpid())) {}

OutputFile::~OutputFile() {
    if (written_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

bool OutputFile::Write(std::string_view text) {
    std::FILE* const file = std::fopen(temporary_.c_str(), "wb");
    if (file == nullptr) {
        error_ = std::strerror(errno);
        return false;
    }
    written_ = true;
    const bool complete = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int write_error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!complete || !closed) {
        error_ = std::strerror(complete ? errno : write_error);
        return false;
    }
    return true;
}

bool OutputFile::Commit() {
    std::error_code failure;
    std::filesystem::rename(temporary_, destination_, failure);
    if (failure) {
        error_ = failure.message();
        return false;
    }
    written_ = false;
    return true;
}

}  // namespace dormiscope::view

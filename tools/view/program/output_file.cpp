#include "view/program/output_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace dormiscope::view {

OutputFile::OutputFile(std::filesystem::path destination)
    : destination_(std::move(destination)), temporary_(destination_) {
    // Appended to the path itself, so that the name never passes through narrow text (a conversion on Windows).
    temporary_ += ".partial-" + std::to_string(::getpid());
}

OutputFile::~OutputFile() {
    if (written_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

bool OutputFile::Write(std::string_view text) {
    std::ofstream file(temporary_, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
        error_ = std::strerror(errno);
        return false;
    }
    written_ = true;
    const bool complete = static_cast<bool>(file.write(text.data(), static_cast<std::streamsize>(text.size())));
    const int write_error = errno;
    file.close();
    if (!complete || file.fail()) {
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

// Writes a file whole or not at all: the text goes to a temporary file beside
// the destination, which is renamed over it only once everything was written.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace dormiscope::view {

class OutputFile {
public:
    explicit OutputFile(std::filesystem::path destination);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Writes the temporary file; false (with error() set) when it cannot be
    // created or written.
    bool Write(std::string_view text);
    // Renames the written temporary file to the destination.
    bool Commit();
    const std::string& error() const { return error_; }

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    std::string error_;
    bool written_ = false;
};

}  // namespace dormiscope::view

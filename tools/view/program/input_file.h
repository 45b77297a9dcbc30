// What a side of a comparison is, told by the file's start: a wakes document
// written by --json opens with "{" (after any white space or byte order mark),
// which no trace does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace dormiscope::view {

enum class InputForm { kTrace, kDocument };

struct InputFile {
    std::optional<InputForm> form;  // none when the file cannot be read
    std::string error;              // why not
};

InputFile InputFileAt(const std::filesystem::path& path);

// The whole file, or none with `error` set.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string& error);

}  // namespace dormiscope::view

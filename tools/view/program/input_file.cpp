#include "view/program/input_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace dormiscope::view {
namespace {

// What the system said, as the view's other messages put it.
std::string SystemError(int error) {
    return std::generic_category().message(error);
}

std::string NotAFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return "no such file";
    }
    return std::filesystem::is_directory(path, error) ? "it is a folder" : "";
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string& error) {
    if (std::string why = NotAFile(path); !why.empty()) {
        error = std::move(why);
        return std::nullopt;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = errno != 0 ? SystemError(errno) : "it cannot be opened";
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        error = "it cannot be read";
        return std::nullopt;
    }
    return text;
}

InputFile InputFileAt(const std::filesystem::path& path) {
    if (std::string why = NotAFile(path); !why.empty()) {
        return {std::nullopt, std::move(why)};
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {std::nullopt, errno != 0 ? SystemError(errno) : "it cannot be opened"};
    }
    // A byte order mark and white space may come before a document's "{".
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::string start(kByteOrderMark.size(), '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    std::size_t at = start == kByteOrderMark ? start.size() : 0;
    for (char character = 0;; ++at) {
        if (at < start.size()) {
            character = start[at];
        } else if (!in.get(character)) {
            return {InputForm::kTrace, {}};
        }
        if (character != ' ' && character != '\t' && character != '\r' && character != '\n') {
            return {character == '{' ? InputForm::kDocument : InputForm::kTrace, {}};
        }
    }
}

}  // namespace dormiscope::view

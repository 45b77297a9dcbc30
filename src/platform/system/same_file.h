// Whether two names reach one file, however each is spelled (relative, through
// a link, in another letter case where the file system ignores case), so that
// an output can never replace the input it was made from.
#pragma once

#include <filesystem>
#include <system_error>

namespace dormiscope {

// True when both name existing files and they are the same one.
inline bool IsSameFile(const std::filesystem::path& first, const std::filesystem::path& second) {
    std::error_code unknown;  // a name that reaches no file is no other file's
    return std::filesystem::equivalent(first, second, unknown);
}

// True when standard output is the file at `path` (a shell redirection into it).
bool StandardOutputIsFile(const std::filesystem::path& path);

}  // namespace dormiscope

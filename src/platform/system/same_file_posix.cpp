#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/same_file.h"

namespace dormiscope {

bool StandardOutputIsFile(const std::filesystem::path& path) {
    struct stat output {};
    struct stat file {};
    return ::fstat(STDOUT_FILENO, &output) == 0 && ::stat(path.c_str(), &file) == 0 &&
           output.st_dev == file.st_dev && output.st_ino == file.st_ino;
}

}  // namespace dormiscope

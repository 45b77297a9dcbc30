#include <windows.h>

#include "platform/system/same_file.h"

namespace dormiscope {
namespace {

bool IdentityOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& identity) {
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetFileInformationByHandle(handle, &identity) != 0;
}

}  // namespace

bool StandardOutputIsFile(const std::filesystem::path& path) {
    BY_HANDLE_FILE_INFORMATION output{};
    if (!IdentityOf(GetStdHandle(STD_OUTPUT_HANDLE), output)) {
        return false;
    }
    // Attributes only: the file stays readable and writable by everyone else.
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION input{};
    const bool known = IdentityOf(file, input);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return known && output.dwVolumeSerialNumber == input.dwVolumeSerialNumber &&
           output.nFileIndexHigh == input.nFileIndexHigh && output.nFileIndexLow == input.nFileIndexLow;
}

}  // namespace dormiscope

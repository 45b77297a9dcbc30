#include "platform/system/native_text.h"

#include <windows.h>
#include <shellapi.h>

namespace dormiscope {

std::vector<std::wstring> CommandLineArguments(int, char**) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* const wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int index = 0; index < count; ++index) {
        arguments.emplace_back(wide[index]);
    }
    LocalFree(wide);
    return arguments;
}

std::filesystem::path PathFromWide(const std::wstring& wide) {
    return std::filesystem::path(wide);
}

}  // namespace dormiscope

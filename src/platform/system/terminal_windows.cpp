#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/system/terminal.h"

namespace dormiscope {

bool StandardErrorIsTerminal() {
    // _isatty accepts any character device (NUL, a serial port); only a
    // console answers GetConsoleMode.
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace dormiscope

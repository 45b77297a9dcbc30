#include <io.h>

#include <cstdio>

#include "platform/system/terminal.h"

namespace dormiscope {

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace dormiscope

#include <unistd.h>

#include "platform/system/terminal.h"

namespace dormiscope {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace dormiscope

// Names people know the kernel's event classes by, for etwdump's table.
#pragma once

#include <cstdint>
#include <string>

#include "platform/etw_api.h"

namespace dormiscope::etwdump {

// "Thread CSwitch", "Process Start", "Image Load", "PerfInfo DPC", …: the
// kernel group's name and the opcode's where both are known, the group's name
// and the opcode's number where only the group is, else the provider GUID
// and the opcode's number.
std::string EventClassName(const GUID& provider, std::uint8_t opcode);

}  // namespace dormiscope::etwdump

// Names people know the kernel's event classes by, for etwdump's table.
#pragma once

#include <optional>
#include <string_view>

namespace dormiscope::etwdump {

// "CSwitch", "Process Start", "Image Load", … for the class of `provider`
// (braced GUID text, upper case) and `opcode`; nothing for a class not named here.
std::optional<std::string_view> EventClassName(std::string_view provider, unsigned opcode);

}  // namespace dormiscope::etwdump

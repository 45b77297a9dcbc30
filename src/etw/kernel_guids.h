// Event-class GUIDs of the kernel providers the passes listen to.
#pragma once

#include <cstdint>

#include "platform/etw_api.h"

namespace dormiscope {

// {3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}
inline constexpr GUID ProcessProviderGuid = {0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
// {3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}
inline constexpr GUID ThreadProviderGuid = {0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};

inline constexpr std::uint8_t OPCODE_START = 1;
inline constexpr std::uint8_t OPCODE_END = 2;
inline constexpr std::uint8_t OPCODE_DC_START = 3;
inline constexpr std::uint8_t OPCODE_CSWITCH = 36;

}  // namespace dormiscope

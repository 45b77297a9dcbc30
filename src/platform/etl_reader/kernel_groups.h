// The provider GUID under which consumers see a kernel event group.
#pragma once

#include <cstdint>

#include "platform/etw_api.h"

namespace dormiscope {

// The event-class GUID of kernel group `group` (Packet.Group of the system,
// compact and perfinfo headers). A group without a known class gets
// {000000gg-0000-0000-0000-000000000000}: no provider uses it, so no consumer
// matches it by mistake, and the group stays visible in Data1.
GUID KernelGroupProvider(std::uint8_t group);

}  // namespace dormiscope

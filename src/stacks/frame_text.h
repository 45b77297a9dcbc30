// The one way a resolved frame becomes text: "module+0xoffset" with the
// image's file name (without its folder), or "unknown". Symbol names plug in
// here.
#pragma once

#include <string>

#include "stacks/module_maps.h"

namespace dormiscope {

std::u16string FrameText(const ResolvedFrame& frame);

}  // namespace dormiscope

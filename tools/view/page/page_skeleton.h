// A page from a skeleton: every "{{name}}" in the skeleton is replaced by the
// text of the slot of that name.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace dormiscope::view {

struct Slot {
    std::string_view name;
    std::string_view text;
};

// A "{{name}}" that no slot fills stays as it is written. `size_hint` is
// reserved up front: the page holds the whole JSON document.
std::string FillSkeleton(std::string_view skeleton, std::span<const Slot> slots, std::size_t size_hint);

}  // namespace dormiscope::view

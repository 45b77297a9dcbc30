#include "view/page/page_skeleton.h"

#include <algorithm>

namespace dormiscope::view {

std::string FillSkeleton(std::string_view skeleton, std::span<const Slot> slots, std::size_t size_hint) {
    constexpr std::string_view kOpen = "{{";
    constexpr std::string_view kClose = "}}";
    std::string out;
    out.reserve(size_hint);
    std::size_t at = 0;
    for (std::size_t open = skeleton.find(kOpen); open != std::string_view::npos;
         open = skeleton.find(kOpen, at)) {
        const std::size_t close = skeleton.find(kClose, open + kOpen.size());
        if (close == std::string_view::npos) {
            break;
        }
        const std::string_view name = skeleton.substr(open + kOpen.size(), close - open - kOpen.size());
        const auto slot = std::find_if(slots.begin(), slots.end(), [&](const Slot& s) { return s.name == name; });
        if (slot == slots.end()) {
            out += skeleton.substr(at, close + kClose.size() - at);
        } else {
            out += skeleton.substr(at, open - at);
            out += slot->text;
        }
        at = close + kClose.size();
    }
    out += skeleton.substr(at);
    return out;
}

}  // namespace dormiscope::view

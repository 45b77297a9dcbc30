#include "view/stacks/open_extents.h"

#include <limits>

namespace dormiscope {

void OpenExtents::Insert(std::uint64_t start, std::uint64_t end, std::size_t id) {
    starts_.insert({start, id});
    ends_.insert({end, id});
}

void OpenExtents::Erase(std::uint64_t start, std::uint64_t end, std::size_t id) {
    starts_.erase({start, id});
    ends_.erase({end, id});
}

bool OpenExtents::Meets(std::uint64_t start, std::uint64_t end) const {
    // Of the ranges starting below `end`, those that also end at or below
    // `start` lie wholly before it; any other one meets it.
    const std::size_t starting_before_end = starts_.order_of_key({end, 0});
    const std::size_t ended_by_start = ends_.order_of_key({start, std::numeric_limits<std::size_t>::max()});
    return starting_before_end > ended_by_start;
}

}  // namespace dormiscope

// The address ranges of the images loaded at one moment in one process.
// A damaged trace may load one image over another, so the ranges can
// overlap; whether any of them meets a new range is still answered in
// logarithmic time, however many are loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

namespace dormiscope {

class OpenExtents {
public:
    // [start, end) of the image `id`; ids tell equal ranges apart.
    void Insert(std::uint64_t start, std::uint64_t end, std::size_t id);
    void Erase(std::uint64_t start, std::uint64_t end, std::size_t id);

    // Whether a range [a, b) with a < end and start < b is open.
    bool Meets(std::uint64_t start, std::uint64_t end) const;

private:
    using Bound = std::pair<std::uint64_t, std::size_t>;
    // A set that counts its members below a value.
    using RankedBounds = __gnu_pbds::tree<Bound, __gnu_pbds::null_type, std::less<Bound>, __gnu_pbds::rb_tree_tag,
                                          __gnu_pbds::tree_order_statistics_node_update>;

    RankedBounds starts_;
    RankedBounds ends_;
};

}  // namespace dormiscope

// Sorting a thread's kept periods, ascending. Periods are integers and kept
// ones span 1 ms to 1 s (at most 24 bits in 100-ns units), so a radix sort
// over the bytes that vary costs a few linear passes where a comparison sort
// costs a logarithm of branches per period; being integers, any correct sort
// gives the same order.
#pragma once

#include <cstdint>
#include <vector>

namespace dormiscope {

void SortPeriods(std::vector<std::uint64_t>& periods);

}  // namespace dormiscope

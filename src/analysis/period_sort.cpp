#include "analysis/period_sort.h"

#include <array>
#include <bit>
#include <cstddef>

namespace dormiscope {
namespace {

constexpr unsigned kDigitBits = 8;
constexpr std::size_t kDigitValues = std::size_t{1} << kDigitBits;
constexpr unsigned kDigits = 64 / kDigitBits;

using DigitCounts = std::array<std::array<std::size_t, kDigitValues>, kDigits>;

unsigned DigitOf(std::uint64_t value, unsigned digit) {
    return static_cast<unsigned>(value >> (digit * kDigitBits)) & (kDigitValues - 1);
}

}  // namespace

void SortPeriods(std::vector<std::uint64_t>& periods) {
    const std::size_t count = periods.size();
    std::uint64_t largest = 0;
    for (const std::uint64_t period : periods) {
        largest |= period;
    }
    const unsigned digits = (static_cast<unsigned>(std::bit_width(largest)) + kDigitBits - 1) / kDigitBits;

    // One read counts every digit; a pass whose digit is the same for all
    // periods would move nothing and is skipped.
    DigitCounts counts{};
    for (const std::uint64_t period : periods) {
        for (unsigned digit = 0; digit < digits; ++digit) {
            ++counts[digit][DigitOf(period, digit)];
        }
    }

    std::vector<std::uint64_t> scratch(count);
    for (unsigned digit = 0; digit < digits; ++digit) {
        std::array<std::size_t, kDigitValues>& slots = counts[digit];
        if (slots[DigitOf(periods.front(), digit)] == count) {
            continue;
        }
        std::size_t next = 0;
        for (std::size_t& slot : slots) {
            const std::size_t here = slot;
            slot = next;
            next += here;
        }
        for (const std::uint64_t period : periods) {
            scratch[slots[DigitOf(period, digit)]++] = period;
        }
        periods.swap(scratch);
    }
}

}  // namespace dormiscope

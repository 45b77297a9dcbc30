// Numbers as the page and the trace's notes write them: thousands separators,
// and counts with the noun in the right number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dormiscope::view {

// 1234567.891 with 1 decimal: "1,234,567.9".
std::string Grouped(double value, int decimals);
std::string Grouped(std::uint64_t value);

// "1 processor", "8 processors", "1,024 processors".
std::string CountOf(std::uint64_t count, std::string_view singular, std::string_view plural);

}  // namespace dormiscope::view

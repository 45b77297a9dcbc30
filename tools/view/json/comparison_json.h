// The comparison of two recordings as a JSON document, for scripts and for
// the comparison page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "view/compare/comparison.h"

namespace dormiscope::view {

inline constexpr std::string_view kComparisonFormat = "dormiscope-comparison";
inline constexpr std::uint64_t kComparisonFormatVersion = 1;

std::string ComparisonJson(const Comparison& comparison);

}  // namespace dormiscope::view

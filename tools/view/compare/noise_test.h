// Whether two Poisson counts over two lengths of time differ by more than
// counting noise explains: the exact conditional test. Given n = k1 + k2
// events, equal rates would make k2 binomial with p = t2 / (t1 + t2); the
// two-sided p-value is twice the smaller tail, and a change is beyond noise
// when it is below 1 %.
#pragma once

#include <cstdint>

namespace dormiscope::view {

inline constexpr double kNoiseLevel = 0.01;

// The two-sided p-value; 1 when a side has no time.
double RateDifferencePValue(std::uint64_t before, double before_time, std::uint64_t after, double after_time);

bool BeyondNoise(std::uint64_t before, double before_time, std::uint64_t after, double after_time);

}  // namespace dormiscope::view

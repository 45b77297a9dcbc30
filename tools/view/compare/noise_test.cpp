#include "view/compare/noise_test.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dormiscope::view {
namespace {

// The continued fraction of the incomplete beta function, by the modified
// Lentz method; it converges fast where x < (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x) {
    constexpr double kTiny = 1e-300;
    constexpr double kPrecision = 1e-14;
    constexpr int kMostTerms = 1'000'000;
    double c = 1;
    double d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::abs(d) < kTiny ? kTiny : d);
    double fraction = d;
    for (int m = 1; m <= kMostTerms; ++m) {
        const double even = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
        for (const double term : {even, -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1))}) {
            d = 1 + term * d;
            d = 1 / (std::abs(d) < kTiny ? kTiny : d);
            c = 1 + term / c;
            c = std::abs(c) < kTiny ? kTiny : c;
            fraction *= d * c;
            if (term != even && std::abs(d * c - 1) < kPrecision) {
                return fraction;
            }
        }
    }
    return fraction;
}

// I_x(a, b), the regularized incomplete beta function.
double RegularizedBeta(double a, double b, double x) {
    if (x <= 0) {
        return 0;
    }
    if (x >= 1) {
        return 1;
    }
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1) / (a + b + 2)) {
        return front * BetaFraction(a, b, x) / a;
    }
    return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

}  // namespace

double RateDifferencePValue(std::uint64_t before, double before_time, std::uint64_t after, double after_time) {
    if (!(before_time > 0) || !(after_time > 0) || before + after == 0) {
        return 1;
    }
    const double n = static_cast<double>(before) + static_cast<double>(after);
    const double k = static_cast<double>(after);
    const double p = after_time / (before_time + after_time);
    // P(X ≥ k) and P(X ≤ k) for X ~ Binomial(n, p).
    const double upper = after == 0 ? 1.0 : RegularizedBeta(k, n - k + 1, p);
    const double lower = before == 0 ? 1.0 : RegularizedBeta(n - k, k + 1, 1 - p);
    return std::clamp(2 * std::min(upper, lower), 0.0, 1.0);
}

bool BeyondNoise(std::uint64_t before, double before_time, std::uint64_t after, double after_time) {
    return RateDifferencePValue(before, before_time, after, after_time) < kNoiseLevel;
}

}  // namespace dormiscope::view

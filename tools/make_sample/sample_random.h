// Random numbers that are the same on every platform: the 64-bit Mersenne
// twister is fully specified, and the few distributions needed are computed
// here rather than by the standard library, whose algorithms may differ.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace dormiscope::sample {

class SampleRandom {
public:
    explicit SampleRandom(std::uint64_t seed) : engine_(seed) {}

    // In [0, 1).
    double Unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    double Between(double low, double high) { return low + (high - low) * Unit(); }
    // In [0, count); count > 0.
    std::uint64_t Below(std::uint64_t count) { return engine_() % count; }
    std::uint32_t InRange(std::uint32_t low, std::uint32_t high) {
        return low + static_cast<std::uint32_t>(Below(std::uint64_t{high} - low + 1));
    }
    // Waiting time of a Poisson process with `rate` events per unit.
    double Exponential(double rate) { return -std::log1p(-Unit()) / rate; }

private:
    std::mt19937_64 engine_;
};

}  // namespace dormiscope::sample

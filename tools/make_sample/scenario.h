// The description of a sample trace, read from a small text file: the
// machine, its processes and threads, which threads wake periodically, and the
// random activity around them.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace dormiscope::sample {

struct ThreadSpec {
    std::uint32_t tid = 0;
    std::string name{};
    std::int8_t priority = 8;
    double period_ms = 0;  // 0: not periodic
    double jitter_ms = 0;  // uniform in [−jitter, +jitter]
    std::uint32_t cpu = 0;      // processor of the periodic wakes
    std::uint32_t run_us = 50;
};

struct ProcessSpec {
    std::uint32_t pid = 0;
    std::uint32_t parent = 0;
    std::uint32_t session = 0;
    std::string image{};
    std::string command_line{};
    std::vector<ThreadSpec> threads{};
};

struct Range {
    std::uint32_t min = 0;
    std::uint32_t max = 0;
};

struct BackgroundSpec {
    std::uint32_t count = 0;
    Range threads{1, 1};
    std::uint32_t parent = 0;
    std::vector<std::string> images{};
};

struct NoiseSpec {
    std::uint32_t threads = 0;
    double rate_hz = 1;
    Range run_us{10, 100};
};

struct LaunchSpec {
    double at_ms = 0;
    double life_ms = 0;
    std::uint32_t threads = 1;
    ProcessSpec process{};
};

struct Scenario {
    std::uint64_t seed = 1;
    double duration_ms = 60000;
    std::uint32_t processors = 8;
    std::vector<ProcessSpec> processes{};
    BackgroundSpec background{};
    NoiseSpec noise{};
    std::vector<LaunchSpec> launches{};
};

// Reads a scenario; throws std::runtime_error naming the line of the first
// mistake (unknown directive or key, bad number, thread before any process,
// duplicate id, periodic thread on a processor that does not exist).
Scenario ParseScenario(std::istream& text);

}  // namespace dormiscope::sample

// One self-erasing line on standard error that shows how far a pass over a
// trace has come: the share of the trace's time span reached, and the events
// per second. Drawn only when standard error is a terminal, so nothing the
// program prints changes when its output is captured.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace dormiscope {

class ProgressLine {
public:
    // Shown for a pass over the span [start, end] of trace time, when standard error is a terminal.
    ProgressLine(std::string label, std::int64_t start, std::int64_t end);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ~ProgressLine() { Erase(); }

    // Called for every event; looks at the clock once every few thousand.
    void Count(std::int64_t time_stamp) {
        if (enabled_ && ++events_ % kEventsBetweenLooks == 0) {
            Draw(time_stamp);
        }
    }

    // Removes the line, if one is shown.
    void Erase();

private:
    static constexpr std::uint64_t kEventsBetweenLooks = 1u << 16;

    void Draw(std::int64_t time_stamp);

    bool enabled_;
    int shown_width_ = 0;
    std::string label_;
    std::int64_t start_;
    std::int64_t end_;
    std::uint64_t events_ = 0;
    std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point drawn_{};  // long ago: the first look draws
};

}  // namespace dormiscope

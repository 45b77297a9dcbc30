#include "etw/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/system/terminal.h"

namespace dormiscope {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

}  // namespace

ProgressLine::ProgressLine(std::string label, std::int64_t start, std::int64_t end)
    : enabled_(StandardErrorIsTerminal()), label_(std::move(label)), start_(start), end_(end) {}

void ProgressLine::Draw(std::int64_t time_stamp) {
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn_ < kRedrawInterval) {
        return;
    }
    drawn_ = now;
    const double span = static_cast<double>(end_ - start_);
    const double share = span > 0 ? std::clamp(static_cast<double>(time_stamp - start_) / span, 0.0, 1.0) : 0.0;
    const double seconds = std::chrono::duration<double>(now - began_).count();
    const int width = std::fprintf(stderr, "\r%s: %3.0f %% of the trace, %.1f million events/s", label_.c_str(),
                                   100.0 * share, static_cast<double>(events_) / seconds / 1e6);
    std::fflush(stderr);
    // A shorter line than the last one leaves no tail of it behind.
    if (width > 0 && width < shown_width_) {
        std::fprintf(stderr, "%*s", shown_width_ - width, "");
        std::fflush(stderr);
    }
    shown_width_ = std::max(width, shown_width_);
}

void ProgressLine::Erase() {
    if (shown_width_ == 0) {
        return;
    }
    std::fprintf(stderr, "\r%*s\r", shown_width_, "");
    std::fflush(stderr);
    shown_width_ = 0;
}

}  // namespace dormiscope

#include "view/export/folded_stacks.h"

#include <unordered_map>
#include <vector>

#include "view/export/export_text.h"

namespace dormiscope::view {
namespace {

// The frame between the wait stack and the readying stack, as in off-wake graphs.
constexpr std::string_view kOffWakeSeparator = "--";

std::string FoldedFrame(std::string text) {
    for (char& character : text) {
        if (character == ';') {
            character = ':';
        } else if (static_cast<unsigned char>(character) < 0x20 || character == 0x7F) {
            character = ' ';
        }
    }
    return text;
}

std::string ThreadFrame(const ThreadFigures& thread) {
    const std::string tid = "tid " + std::to_string(thread.thread_id);
    return thread.name.empty() ? tid : FoldedFrame(Utf8Of(thread.name)) + " (" + tid + ")";
}

}  // namespace

std::string FoldedStacks(const TraceFigures& figures, FoldedStyle style) {
    std::vector<std::string> frames;
    frames.reserve(figures.code_frames.size());
    for (const CodeFrame& frame : figures.code_frames) {
        frames.push_back(FoldedFrame(frame.text));
    }
    std::vector<std::string> lines;
    std::unordered_map<std::string, std::uint64_t> weights;
    for (const ProcessFigures& process : figures.processes) {
        const std::string process_frame = FoldedFrame(Utf8Of(process.name)) + " (pid " +
                                          std::to_string(process.process_id) + ")";
        for (const ThreadFigures& thread : process.threads) {
            const std::string prefix = process_frame + ";" + ThreadFrame(thread);
            for (const WakeStackFigure& stack : thread.wake_stacks) {
                const std::uint64_t weight = style.idle_wakes ? stack.idle_wakes : stack.wakes;
                if (weight == 0 || (!style.off_wake && stack.wait.empty())) {
                    continue;
                }
                std::string line = prefix;
                for (const std::uint32_t frame : stack.wait) {
                    line += ';';
                    line += frames.at(frame);
                }
                if (style.off_wake) {
                    line += ';';
                    line += kOffWakeSeparator;
                    for (const std::uint32_t frame : stack.readying) {
                        line += ';';
                        line += frames.at(frame);
                    }
                    line += ';';
                    line += FoldedFrame(WakerText(stack.readier));
                }
                const auto [found, added] = weights.try_emplace(line, 0);
                if (added) {
                    lines.push_back(line);
                }
                found->second += weight;
            }
        }
    }
    std::string out;
    for (const std::string& line : lines) {
        out += line;
        out += ' ';
        out += std::to_string(weights[line]);
        out += '\n';
    }
    return out;
}

}  // namespace dormiscope::view

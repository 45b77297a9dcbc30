#include "view/page/flame_data.h"

#include <cstdio>
#include <map>

#include "view/export/export_text.h"

namespace dormiscope::view {
namespace {

void AppendJsonString(std::string& out, std::string_view utf8) {
    out += '"';
    for (const char character : utf8) {
        const auto byte = static_cast<unsigned char>(character);
        if (character == '"' || character == '\\') {
            out += '\\';
            out += character;
        } else if (byte < 0x20 || character == '<') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += character;
        }
    }
    out += '"';
}

void AppendIndices(std::string& out, const std::vector<std::uint32_t>& indices) {
    out += '[';
    for (std::size_t index = 0; index < indices.size(); ++index) {
        out.append(index == 0 ? "" : ",").append(std::to_string(indices[index]));
    }
    out += ']';
}

}  // namespace

std::string FlameData(const TraceFigures& figures) {
    std::string frames = "[";
    std::string modules = "[";
    std::map<std::pair<std::string, bool>, std::size_t> module_indices;
    for (const CodeFrame& frame : figures.code_frames) {
        const auto [module, added] = module_indices.try_emplace({frame.module, frame.kernel}, module_indices.size());
        if (added) {
            modules += modules.size() == 1 ? "[" : ",[";
            AppendJsonString(modules, frame.module);
            modules += frame.kernel ? ",1]" : ",0]";
        }
        frames += frames.size() == 1 ? "[" : ",[";
        AppendJsonString(frames, frame.text);
        frames.append(",").append(std::to_string(module->second)).append("]");
    }
    std::string threads = "[";
    for (std::size_t process_index = 0; process_index < figures.processes.size(); ++process_index) {
        const ProcessFigures& process = figures.processes[process_index];
        for (std::size_t thread_index = 0; thread_index < process.threads.size(); ++thread_index) {
            const ThreadFigures& thread = process.threads[thread_index];
            if (thread.wake_stacks.empty()) {
                continue;
            }
            threads += threads.size() == 1 ? "[" : ",\n[";
            threads.append(std::to_string(process_index)).append(",").append(std::to_string(thread_index));
            threads += ",[";
            for (const WakeStackFigure& stack : thread.wake_stacks) {
                threads += &stack == &thread.wake_stacks.front() ? "[" : ",[";
                threads.append(std::to_string(stack.wakes)).append(",").append(std::to_string(stack.idle_wakes));
                threads += ',';
                AppendIndices(threads, stack.wait);
                threads += ',';
                AppendIndices(threads, stack.readying);
                threads += ',';
                AppendJsonString(threads, WakerText(stack.readier));
                threads += ']';
            }
            threads += "]]";
        }
    }
    return "{\"frames\":" + frames + "],\n\"modules\":" + modules + "],\n\"threads\":" + threads + "]}";
}

}  // namespace dormiscope::view

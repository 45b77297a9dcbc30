#include "view/view_options.h"

namespace dormiscope::view {

std::optional<ViewOptions> ParseViewOptions(const std::vector<std::wstring>& arguments) {
    ViewOptions options;
    bool has_json = false;
    for (std::size_t index = 1; index < arguments.size(); index += 2) {
        const std::wstring& name = arguments[index];
        if (index + 1 >= arguments.size()) {
            return std::nullopt;
        }
        const std::wstring& value = arguments[index + 1];
        std::wstring* target = nullptr;
        if (name == L"-i") {
            target = &options.trace_path;
        } else if (name == L"-o") {
            target = &options.page_path;
        } else if (name == L"--json") {
            target = &options.json_path;
            if (has_json) {
                return std::nullopt;
            }
            has_json = true;
        } else {
            return std::nullopt;
        }
        if (!target->empty() || value.empty()) {
            return std::nullopt;
        }
        *target = value;
    }
    if (options.trace_path.empty() || options.page_path.empty()) {
        return std::nullopt;
    }
    return options;
}

}  // namespace dormiscope::view

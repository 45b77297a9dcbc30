#include "app/command_line.h"

namespace dormiscope {
namespace {

// Letter case is ignored for the ASCII letter only, whatever the locale
// thinks of other characters.
bool IsSwitch(const std::wstring& argument, wchar_t lower_case_letter) {
    return argument.size() == 2 && argument[0] == L'-' &&
           (argument[1] == lower_case_letter || argument[1] == lower_case_letter - (L'a' - L'A'));
}

}  // namespace

std::int32_t ParseCommandLine(int count, const std::vector<std::wstring>& arguments, RunContext& run) {
    if (count < 2) {
        return ERROR_BAD_COMMAND_LINE;
    }
    const auto available = static_cast<int>(arguments.size()) < count ? static_cast<int>(arguments.size()) : count;
    bool seen_input = false;
    bool seen_output = false;
    int position = 1;
    while (position < available) {
        const std::wstring& argument = arguments[static_cast<std::size_t>(position)];
        std::wstring* member = nullptr;
        if (IsSwitch(argument, L'i')) {
            member = &run.input_path;
            seen_input = true;
        } else if (IsSwitch(argument, L'o')) {
            member = &run.output_path;
            seen_output = true;
        } else if (IsSwitch(argument, L'd')) {
            member = &run.log_level;
        } else {
            return ERROR_BAD_COMMAND_LINE;
        }
        ++position;
        // The next argument is the value whatever it looks like; a switch at the end keeps the member as it was.
        if (position < available) {
            *member = arguments[static_cast<std::size_t>(position)];
        }
        ++position;
    }
    return seen_input && seen_output ? 0 : ERROR_BAD_COMMAND_LINE;
}

}  // namespace dormiscope

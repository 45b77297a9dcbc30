// A process name from the trace as report text: decoded from UTF-8 into UTF-16
// and escaped for a JSON string.
#pragma once

#include <string>
#include <string_view>

namespace dormiscope {

// UTF-16 code units of a UTF-8 name. A byte that does not start a valid UTF-8
// sequence stands for the character of the same value (U+0080–U+00FF), so no
// name is refused.
std::wstring NameText(std::string_view utf8_name);

// The text as the inside of a JSON string, in ASCII only: `"` and `\` escaped,
// control characters and every code unit above U+007F as \uXXXX.
std::wstring JsonStringContent(std::wstring_view utf16_text);

}  // namespace dormiscope

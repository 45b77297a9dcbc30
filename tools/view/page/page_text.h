// Text as the wake page shows it: names as HTML text, and numbers as the
// figures' notes write them.
#pragma once

#include <string>
#include <string_view>

#include "view/figures/number_text.h"

namespace dormiscope::view {

// UTF-16 text as HTML text in ASCII: markup characters and every character
// beyond ASCII as character references.
std::string HtmlText(std::wstring_view utf16);

// A JSON document as the text of a script element, where only "<" could end
// it early; JSON strings take its escape.
std::string ScriptText(std::string_view json);

}  // namespace dormiscope::view

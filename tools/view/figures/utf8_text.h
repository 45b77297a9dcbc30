// The figures' names (UTF-16 code units) as UTF-8, for the texts written
// from them: exports and budget lines.
#pragma once

#include <string>
#include <string_view>

namespace dormiscope::view {

// A lone surrogate becomes U+FFFD.
std::string Utf8Of(std::wstring_view utf16);

}  // namespace dormiscope::view

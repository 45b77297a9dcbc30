// The style sheet and the script of the wake page, kept in the page itself so
// that it works offline and asks the network for nothing.
#pragma once

#include <string_view>

namespace dormiscope::view {

extern const std::string_view kPageStyle;
// Builds the sortable table from the JSON document in the element "wake-data".
extern const std::string_view kPageScript;

}  // namespace dormiscope::view
